#include "zip/zip_file_header.h"

#include <sys/stat.h>

#include "platform/codepage.h"
#include "util/text_encoding.h"
#include "zip/zip_exception.h"
#include "zip/zip_storage.h"

void CZipFileHeader::ReadCentral(CZipStorage& storage) {
  uint8_t h[kCentralHeaderSize];
  storage.ReadExact(h, sizeof h);
  if (ReadLe32(h) != kCentralHeaderSignature) ThrowZipError(kZipBadArchive, storage.path());
  version_made_by = ReadLe16(h + 4);
  version_needed = ReadLe16(h + 6);
  flags = ReadLe16(h + 8);
  method = ReadLe16(h + 10);
  dos_time = ReadLe16(h + 12);
  dos_date = ReadLe16(h + 14);
  crc32 = ReadLe32(h + 16);
  compressed_size = ReadLe32(h + 20);
  uncompressed_size = ReadLe32(h + 24);
  uint16_t name_length = ReadLe16(h + 28);
  uint16_t extra_length = ReadLe16(h + 30);
  uint16_t comment_length = ReadLe16(h + 32);
  disk_start = ReadLe16(h + 34);
  internal_attributes = ReadLe16(h + 36);
  external_attributes = ReadLe32(h + 38);
  local_header_offset = ReadLe32(h + 42);
  raw_name_.Allocate(name_length);
  extra_.Allocate(extra_length);
  comment_.Allocate(comment_length);
  storage.ReadExact(raw_name_.data(), name_length);
  storage.ReadExact(extra_.data(), extra_length);
  storage.ReadExact(comment_.data(), comment_length);
  name_ = ConvertEntryName(raw_name_.Text(), (flags & kFlagUtf8Name) != 0);
}

uint64_t CZipFileHeader::LeastStoredSize() const {
  uint64_t size = kLocalHeaderSize + raw_name_.size() + uint64_t{compressed_size};
  if (flags & kFlagDataDescriptor) size += kDataDescriptorLeastSize;
  return size;
}

bool CZipFileHeader::IsDirectory() const {
  if (external_attributes & kAttributeDirectory) return true;
  if (S_ISDIR(UnixMode())) return true;
  // Several Unix and Java writers mark directories by the name alone.
  return !name_.empty() && name_.back() == '/';
}

unsigned CZipFileHeader::FileMode(unsigned umask) const {
  unsigned mode = 0666;
  unsigned unix_mode = UnixMode();
  if (S_ISREG(unix_mode)) mode = unix_mode & 0777;
  if (external_attributes & kAttributeReadOnly) mode &= ~0222u;
  return mode & ~umask;
}

unsigned CZipFileHeader::DirectoryMode(unsigned umask) const {
  unsigned mode = 0777;
  unsigned unix_mode = UnixMode();
  if (S_ISDIR(unix_mode)) mode = unix_mode & 0777;
  return mode & ~umask;
}

std::string ConvertEntryName(const std::string& raw, bool utf8) {
  std::string name;
  if (!utf8 || !Utf8ToAnsi(std::string_view(raw), name)) name = raw;
  // Character by character, so that a trail byte 0x5C of a double-byte
  // character is not taken for a backslash.
  for (size_t i = 0; i < name.size(); ++i) {
    auto c = static_cast<unsigned char>(name[i]);
    if (platform::IsGbkLeadByte(c) && i + 1 < name.size()) {
      ++i;
    } else if (c == '\\') {
      name[i] = '/';
    }
  }
  return name;
}
