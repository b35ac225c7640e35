// Digesting and unpacking a book's package while its transfer is still
// writing it. Threads follow the package file from its first byte up to
// what the transfer reports written: one takes the digest, and two unpack
// into the staging directory, each writing every other entry (creating and
// writing files from two threads, as parallel unzippers do). A resumed
// transfer is digested over the part already on disk first, once, and
// neither digest nor unpacking waits for the transfer's end or for each
// other. Memory is constant in the package size: a read buffer per thread
// and the extractors' blocks.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "util/md5.h"
#include "zip/zip_stream_extractor.h"

class PackageStreamUnpacker {
 public:
  // The staging directory must exist and be empty; output_budget bounds
  // what the unpacking writes into it.
  PackageStreamUnpacker(std::string package, std::string staging, uint64_t output_budget);
  // Stops the thread if it still runs.
  ~PackageStreamUnpacker();
  PackageStreamUnpacker(const PackageStreamUnpacker&) = delete;
  PackageStreamUnpacker& operator=(const PackageStreamUnpacker&) = delete;

  // The package file now holds the transfer's bytes up to end (exclusive).
  // Called on the transfer's thread; never waits for the reading.
  void Available(uint64_t end);
  // The transfer rewrote bytes that may have been read already (a server
  // that ignored the range, a package started again): nothing read so far
  // counts, and the reading stops.
  void Invalidate();

  struct Outcome {
    // The digest covers exactly the file's size bytes, read once in order.
    bool digest_valid = false;
    std::string md5;  // lowercase hexadecimal
    ZipStreamExtractor::Check unpacked = ZipStreamExtractor::Check::kCannotFinish;
    std::string detail;  // why the unpacking could not finish or disagrees
  };
  // The transfer has ended with a file of final_size bytes: reads what is
  // left, then checks the unpacked entries against the central directory.
  Outcome Finish(uint64_t final_size);
  // Stops reading; what was unpacked stays for the caller to remove.
  void Abandon();

 private:
  static constexpr unsigned kUnpackers = 2;
  // The digest, or the unpacking share of that number.
  static constexpr unsigned kDigest = kUnpackers;
  void Run(unsigned work);

  std::string package_;
  std::string staging_;
  std::unique_ptr<ZipStreamExtractor> extractors_[kUnpackers];
  MD5Computer md5_;
  bool md5_ok_ = true;

  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t available_ = 0;
  uint64_t taken_[kUnpackers + 1] = {};  // bytes each thread has read, under the mutex
  uint64_t final_size_ = 0;
  bool finishing_ = false;
  bool stopping_ = false;
  bool invalid_ = false;
  bool failed_read_ = false;
  std::thread threads_[kUnpackers + 1];
};
