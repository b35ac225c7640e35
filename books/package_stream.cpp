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
  thread_ = std::thread([this] { Run(); });
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
  changed_.notify_one();
}

void PackageStreamUnpacker::Invalidate() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    invalid_ = true;
  }
  changed_.notify_one();
}

void PackageStreamUnpacker::Abandon() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void PackageStreamUnpacker::Run() {
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
    if (md5_ok_) md5_ok_ = md5_.Update(buffer.get(), static_cast<size_t>(got));
    extractor_.Feed(buffer.get(), static_cast<size_t>(got));
    position += static_cast<uint64_t>(got);
    std::lock_guard<std::mutex> lock(mutex_);
    consumed_ = position;
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
  changed_.notify_one();
  if (thread_.joinable()) thread_.join();

  Outcome outcome;
  bool complete = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    complete = !invalid_ && !stopping_ && !failed_read_ && consumed_ == final_size;
  }
  if (!complete) {
    outcome.detail = "the package was not read through in order";
    return outcome;
  }
  outcome.digest_valid = md5_ok_ && md5_.Finish(outcome.md5);
  outcome.unpacked = extractor_.Finish(package_, outcome.detail);
  return outcome;
}
