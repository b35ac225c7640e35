// A small ZIP writer for tests and benchmarks: stored and deflated entries,
// directory entries, Unix permissions, data descriptors, UTF-8 names,
// comments and data in front of the archive. Each entry's data is given
// whole; the archive is written to a stream as it goes.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "zip/zip_dos_time.h"

struct ZipEntrySpec {
  enum class Method { kStored, kDeflated };
  enum class Descriptor { kNone, kWithSignature, kWithoutSignature };

  std::string name;  // bytes as stored
  std::string data;
  Method method = Method::kDeflated;
  bool directory = false;  // sets the directory attribute (and S_IFDIR with a mode)
  // Made on Unix with these permission bits; otherwise made on Windows.
  std::optional<unsigned> unix_mode;
  bool read_only = false;  // the read-only attribute
  bool utf8_name = false;
  bool encrypted = false;  // only the flag; the data stays plain
  Descriptor descriptor = Descriptor::kNone;
  DosDateTime modified = MakeDosDateTime(2020, 5, 17, 13, 45, 30);
  std::string comment;
};

class ZipWriter {
 public:
  // Where each entry ended up in the stream, to patch bytes afterwards.
  struct Placement {
    uint64_t local_header_offset = 0;  // from the start of the stream
    uint64_t data_offset = 0;
    uint32_t compressed_size = 0;
    uint32_t crc = 0;
  };

  explicit ZipWriter(std::ostream& out, int deflate_level = 6);

  // Data in front of the archive (a self-extracting stub); offsets inside
  // the archive stay relative to its own start, as when the stub and the
  // archive are concatenated. Only before the first entry.
  void WritePrefix(const std::string& bytes);
  void Add(const ZipEntrySpec& entry);
  // Writes the central directory and the end record.
  void Finish(const std::string& comment = {});

  const std::vector<Placement>& placements() const { return placements_; }

 private:
  struct Central {
    ZipEntrySpec spec;  // without its data
    uint16_t flags, method;
    uint32_t crc, compressed, uncompressed, offset, external;
    uint16_t made_by;
  };
  void Put(const std::string& bytes);

  std::ostream& out_;
  int level_;
  uint64_t prefix_ = 0;
  uint64_t position_ = 0;  // within the archive, after the prefix
  std::vector<Central> central_;
  std::vector<Placement> placements_;
};

// The bytes of a whole archive.
std::string MakeZip(const std::vector<ZipEntrySpec>& entries, const std::string& comment = {},
                    const std::string& prefix = {});

// Raw deflate of data (no zlib header), as ZIP entries hold it.
std::string DeflateRaw(const std::string& data, int level = 6);
