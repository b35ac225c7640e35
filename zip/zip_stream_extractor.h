// Unpacking a ZIP package while it is still arriving. The bytes are handed
// over in order from the first; each entry is written as its local header
// and data stream past. Once the whole file is there (and its digest has
// been checked), its central directory is compared with what was written:
// every entry it lists, at the offset it gives, with the same name, method,
// sizes and CRC-32, and nothing else. Then the file modes and times that
// only the central directory holds are applied.
//
// Anything this cannot follow stops the streaming: an encrypted or zip64
// entry, stored data followed by a data descriptor, an unsafe or repeated
// name, a CRC-32 or size that does not match, a file that cannot be written,
// output beyond the budget, bytes before the first entry. The caller then
// unpacks from the complete file, which decides what is wrong and reports it
// in the installation's own words. Memory is constant in the entries' sizes.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/output_file.h"

class ZipStreamExtractor {
 public:
  // Writes below destination, which must exist; output_budget is the most
  // it writes in all (a package whose entries expand further stops it).
  // Extractors fed the same bytes can share the work: the one of share s
  // of shares writes the entries whose index in the archive leaves s when
  // divided by shares, and passes over the others' data; directories are
  // made by all. Each checks the whole archive.
  ZipStreamExtractor(std::string destination, uint64_t output_budget, unsigned share = 0,
                     unsigned shares = 1);
  ~ZipStreamExtractor();
  ZipStreamExtractor(const ZipStreamExtractor&) = delete;
  ZipStreamExtractor& operator=(const ZipStreamExtractor&) = delete;

  // The next size bytes of the archive. Bytes after the start of the
  // central directory, and everything once stopped, are ignored.
  void Feed(const uint8_t* data, size_t size);

  // False once the streaming has stopped; Finish then says why.
  bool Streaming() const { return phase_ != Phase::kStopped; }

  enum class Check {
    kMatches,       // complete, and now with the central directory's modes and times
    kDisagrees,     // the central directory lists other entries than were unpacked
    kCannotFinish,  // stopped, incomplete or not readable: unpack from the file
  };
  // Compares the complete archive's central directory with what was
  // unpacked. detail says what differs (for logs).
  Check Finish(const std::string& archive, std::string& detail);

 private:
  enum class Phase { kLocalHeader, kNameAndExtra, kData, kDescriptor, kDirectoryReached, kStopped };

  struct Entry {
    std::string name;      // as the program keeps names (code page 936, "/")
    std::string relative;  // below the destination
    uint64_t offset = 0;   // of the local header
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t dos_time = 0;
    uint16_t dos_date = 0;
    uint32_t crc32 = 0;
    uint32_t compressed_size = 0;
    uint32_t uncompressed_size = 0;
    bool directory = false;
    bool mine = true;  // written by this extractor
  };

  // Collects bytes into pending_ until it holds need; true then.
  bool Gather(const uint8_t*& data, size_t& size, size_t need);
  void BeginEntry();
  // Consumes entry data; returns the bytes used.
  size_t ConsumeData(const uint8_t* data, size_t size);
  bool WriteOutput(const uint8_t* data, size_t size);
  void EndData();
  void CheckDescriptor();
  void CloseEntry();
  void Stop(std::string reason);

  std::string destination_;
  uint64_t budget_;
  unsigned share_;
  unsigned shares_;
  uint64_t written_ = 0;
  uint64_t position_ = 0;  // stream offset of the next byte fed
  Phase phase_ = Phase::kLocalHeader;
  std::string stop_reason_;
  std::vector<uint8_t> pending_;
  size_t need_ = 0;

  Entry current_;
  // Keeps the folders met open: a file costs one open, not a walk.
  platform::OutputTree tree_;
  platform::OutputFile output_;
  z_stream stream_{};
  bool inflating_ = false;
  bool stream_ended_ = false;
  uint64_t in_count_ = 0;
  uint64_t out_count_ = 0;
  uint32_t crc_ = 0;
  std::unique_ptr<uint8_t[]> block_;

  std::vector<Entry> entries_;
  std::unordered_set<std::string> names_;
};
