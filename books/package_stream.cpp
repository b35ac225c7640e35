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
    : package_(std::move(package)),
      staging_(std::move(staging)),
      extractor_(staging_, output_budget) {
  md5_ok_ = md5_.Begin();
  digest_thread_ = std::thread([this] { Run(Work::kDigest); });
  unpack_thread_ = std::thread([this] { Run(Work::kUnpack); });
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
  if (digest_thread_.joinable()) digest_thread_.join();
  if (unpack_thread_.joinable()) unpack_thread_.join();
}

void PackageStreamUnpacker::Run(Work work) {
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
    if (work == Work::kDigest) {
      if (md5_ok_) md5_ok_ = md5_.Update(buffer.get(), static_cast<size_t>(got));
    } else {
      extractor_.Feed(buffer.get(), static_cast<size_t>(got));
    }
    position += static_cast<uint64_t>(got);
    std::lock_guard<std::mutex> lock(mutex_);
    (work == Work::kDigest ? digested_ : unpacked_) = position;
    // The unpacking stops reading once the extractor has stopped: the
    // digest alone decides, and the file is unpacked after the transfer.
    if (work == Work::kUnpack && !extractor_.Streaming()) return;
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
  if (digest_thread_.joinable()) digest_thread_.join();
  if (unpack_thread_.joinable()) unpack_thread_.join();

  Outcome outcome;
  bool digested = false;
  bool unpacked = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    bool usable = !invalid_ && !stopping_ && !failed_read_;
    digested = usable && digested_ == final_size;
    unpacked = usable && unpacked_ == final_size;
  }
  if (!digested) {
    outcome.detail = "the package was not read through in order";
    return outcome;
  }
  outcome.digest_valid = md5_ok_ && md5_.Finish(outcome.md5);
  if (unpacked || !extractor_.Streaming()) {
    outcome.unpacked = extractor_.Finish(package_, outcome.detail);
  } else {
    outcome.detail = "the unpacking did not read the whole package";
  }
  return outcome;
}
