// File access for the archive: one volume, read only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "zip/zip_big_file.h"

class CZipStorage {
 public:
  void Open(const std::string& path) { file_.OpenForReading(path); }
  // The file other has open, read through a descriptor of its own.
  void OpenDuplicateOf(const CZipStorage& other) { file_.OpenDuplicateOf(other.file_); }
  void Close() { file_.Close(); }
  bool IsOpen() const { return file_.IsOpen(); }

  size_t Read(void* buffer, size_t count) { return file_.ReadSome(buffer, count); }
  // Reads exactly count bytes, or raises the damaged-archive error.
  void ReadExact(void* buffer, size_t count);
  void Seek(uint64_t offset) { file_.SeekTo(offset); }
  uint64_t Length() const { return file_.Length(); }
  const std::string& path() const { return file_.path(); }

 private:
  CZipBigFile file_;
};

// Little-endian fields of the archive's records.
inline uint16_t ReadLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
