#include "books/package_stream.h"

#include <algorithm>
#include <memory>

#include "platform/file_system.h"

namespace {

// Read from the page cache the transfer has just filled.
constexpr size_t kReadChunk = 1 << 20;

}  // namespace

PackageStreamUnpacker::PackageStreamUnpacker(std::string package, std::string staging,
                                             uint64_t output_budget)
    : package_(std::move(package)), staging_(std::move(staging)) {
  for (unsigned i = 0; i < kUnpackers; ++i)
    extractors_[i] =
        std::make_unique<ZipStreamExtractor>(staging_, output_budget / kUnpackers, i, kUnpackers);
  md5_ok_ = md5_.Begin();
  for (unsigned i = 0; i <= kUnpackers; ++i) threads_[i] = std::thread([this, i] { Run(i); });
}

PackageStreamUnpacker::~PackageStreamUnpacker() {
  Abandon();
}

void PackageStreamUnpacker::Available(uint64_t end) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (end <= available_) return;
    available_ = end;
  }
  changed_.notify_all();
}

void PackageStreamUnpacker::Invalidate() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    invalid_ = true;
  }
  changed_.notify_all();
}

void PackageStreamUnpacker::Abandon() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_)
    if (thread.joinable()) thread.join();
}

void PackageStreamUnpacker::Run(unsigned work) {
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadChunk]);
  platform::File file;
  uint64_t position = 0;
  while (true) {
    uint64_t end = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] {
        return stopping_ || invalid_ || finishing_ || position < available_;
      });
      if (stopping_ || invalid_) return;
      uint64_t limit = finishing_ ? final_size_ : available_;
      if (position >= limit) return;
      end = std::min(limit, position + kReadChunk);
    }
    if (!file.IsOpen()) {
      file = platform::File(package_, platform::OpenMode::kRead);
      if (!file.IsOpen()) break;
    }
    size_t want = static_cast<size_t>(end - position);
    int64_t got = file.Read(buffer.get(), want);
    if (got <= 0) break;
    if (work == kDigest) {
      if (md5_ok_) md5_ok_ = md5_.Update(buffer.get(), static_cast<size_t>(got));
    } else {
      extractors_[work]->Feed(buffer.get(), static_cast<size_t>(got));
    }
    position += static_cast<uint64_t>(got);
    std::lock_guard<std::mutex> lock(mutex_);
    taken_[work] = position;
    // An unpacker stops reading once its extractor has stopped: the digest
    // alone decides, and the file is unpacked after the transfer.
    if (work != kDigest && !extractors_[work]->Streaming()) return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  failed_read_ = true;
}

PackageStreamUnpacker::Outcome PackageStreamUnpacker::Finish(uint64_t final_size) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finishing_ = true;
    final_size_ = final_size;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_)
    if (thread.joinable()) thread.join();

  Outcome outcome;
  bool usable = false;
  uint64_t taken[kUnpackers + 1] = {};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    usable = !invalid_ && !stopping_ && !failed_read_;
    std::copy(std::begin(taken_), std::end(taken_), taken);
  }
  if (!usable || taken[kDigest] != final_size) {
    outcome.detail = "the package was not read through in order";
    return outcome;
  }
  outcome.digest_valid = md5_ok_ && md5_.Finish(outcome.md5);
  // Every share must have followed the whole archive and agree with its
  // central directory; one that disagrees decides.
  outcome.unpacked = ZipStreamExtractor::Check::kMatches;
  for (unsigned i = 0; i < kUnpackers; ++i) {
    ZipStreamExtractor& extractor = *extractors_[i];
    if (extractor.Streaming() && taken[i] != final_size) {
      outcome.unpacked = ZipStreamExtractor::Check::kCannotFinish;
      outcome.detail = "the unpacking did not read the whole package";
      break;
    }
    std::string detail;
    ZipStreamExtractor::Check check = extractor.Finish(package_, detail);
    if (check == ZipStreamExtractor::Check::kMatches) continue;
    if (outcome.unpacked != ZipStreamExtractor::Check::kDisagrees) {
      outcome.unpacked = check;
      outcome.detail = detail;
    }
  }
  return outcome;
}
