// One entry of the central directory.
#pragma once

#include <cstdint>
#include <string>

#include "zip/zip_auto_buffer.h"

class CZipStorage;

inline constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
inline constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
inline constexpr uint32_t kDataDescriptorSignature = 0x08074b50;
inline constexpr uint32_t kEndRecordSignature = 0x06054b50;
inline constexpr size_t kCentralHeaderSize = 46;
inline constexpr size_t kLocalHeaderSize = 30;
inline constexpr size_t kEndRecordSize = 22;
// CRC-32 and both sizes; a signature in front makes 16.
inline constexpr size_t kDataDescriptorLeastSize = 12;

inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr uint16_t kFlagUtf8Name = 0x0800;
inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflated = 8;
inline constexpr uint32_t kAttributeReadOnly = 0x01;
inline constexpr uint32_t kAttributeDirectory = 0x10;
// The "version made by" host of archives made on Unix.
inline constexpr int kHostUnix = 3;

class CZipFileHeader {
 public:
  // Reads one central header at the storage's position; raises the
  // damaged-archive error when it is short or has the wrong signature.
  void ReadCentral(CZipStorage& storage);

  // The name in the program's code page with "/" between components: GBK
  // bytes as stored, or converted from UTF-8 when the entry says so; "\"
  // separators of archives made on Windows become "/".
  const std::string& name() const { return name_; }
  std::string RawName() const { return raw_name_.Text(); }
  std::string Comment() const { return comment_.Text(); }

  // The bytes the entry takes in the archive at least: its local header
  // with the name, its data, and the shortest data descriptor when it has
  // one (the local extra field is not counted).
  uint64_t LeastStoredSize() const;

  bool IsDirectory() const;
  bool IsEncrypted() const { return (flags & kFlagEncrypted) != 0; }
  bool MadeOnUnix() const { return (version_made_by >> 8) == kHostUnix; }
  // The Unix file mode of an entry made on Unix (type and permission
  // bits); 0 when the entry carries none.
  unsigned UnixMode() const { return MadeOnUnix() ? external_attributes >> 16 : 0; }
  // The permission bits an extracted file gets: the entry's own bits when
  // it was made on Unix (never set-id or sticky), otherwise rw for all; no
  // write bits when the read-only attribute is set; never more than the
  // umask allows.
  unsigned FileMode(unsigned umask) const;
  // The same for a directory; the read-only attribute does not apply to
  // directories, as on Windows.
  unsigned DirectoryMode(unsigned umask) const;

  uint16_t version_made_by = 0;
  uint16_t version_needed = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t dos_time = 0;
  uint16_t dos_date = 0;
  uint32_t crc32 = 0;
  uint32_t compressed_size = 0;
  uint32_t uncompressed_size = 0;
  uint16_t disk_start = 0;
  uint16_t internal_attributes = 0;
  uint32_t external_attributes = 0;
  uint32_t local_header_offset = 0;

 private:
  CZipAutoBuffer raw_name_;
  CZipAutoBuffer extra_;
  CZipAutoBuffer comment_;
  std::string name_;
};

// The name of an entry as the program keeps it (see CZipFileHeader::name).
std::string ConvertEntryName(const std::string& raw, bool utf8);
