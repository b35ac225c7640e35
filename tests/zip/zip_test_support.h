// Archives and file checks shared by the ZIP tests.
#pragma once

#include <sys/stat.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "zip/zip_file_header.h"
#include "zip/zip_writer.h"

namespace zip_testing {

// Bytes that compress well and bytes that do not, of a given size.
inline std::string TextBytes(size_t size) {
  std::string s;
  for (size_t i = 0; s.size() < size; ++i) s += "line " + std::to_string(i) + " of a book page\n";
  s.resize(size);
  return s;
}
inline std::string NoiseBytes(size_t size, uint32_t seed = 7) {
  std::string s(size, '\0');
  for (auto& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 16);
  }
  return s;
}

inline ZipEntrySpec Entry(const std::string& name, const std::string& data,
                          ZipEntrySpec::Method method = ZipEntrySpec::Method::kDeflated) {
  ZipEntrySpec e;
  e.name = name;
  e.data = data;
  e.method = method;
  return e;
}

inline ZipEntrySpec DirectoryEntry(const std::string& name) {
  ZipEntrySpec e;
  e.name = name;
  e.directory = true;
  e.method = ZipEntrySpec::Method::kStored;
  return e;
}

// Little-endian fields of archive bytes, for patching archives after they
// were written.
inline uint32_t GetLe(const std::string& bytes, size_t at, int width) {
  uint32_t v = 0;
  for (int i = 0; i < width; ++i)
    v |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
  return v;
}
inline void PutLe(std::string& bytes, size_t at, int width, uint32_t v) {
  for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i));
}

// Where the central headers of an archive without a comment start, in
// entry order, and where the central directory itself starts.
inline std::vector<size_t> CentralHeaderOffsets(const std::string& zip, size_t* directory = nullptr) {
  const size_t end = zip.size() - kEndRecordSize;
  size_t at = GetLe(zip, end + 16, 4);
  if (directory) *directory = at;
  std::vector<size_t> offsets;
  for (uint32_t n = GetLe(zip, end + 10, 2); n > 0; --n) {
    offsets.push_back(at);
    at += kCentralHeaderSize + GetLe(zip, at + 28, 2) + GetLe(zip, at + 30, 2) +
          GetLe(zip, at + 32, 2);
  }
  return offsets;
}

// Sets an entry's CRC-32 and sizes in its local and central headers alike
// (entries without a data descriptor).
inline void PatchEntry(std::string& zip, const ZipWriter::Placement& p, size_t central,
                       uint32_t crc, uint32_t compressed, uint32_t uncompressed) {
  for (size_t crc_at : {static_cast<size_t>(p.local_header_offset) + 14, central + 16}) {
    PutLe(zip, crc_at, 4, crc);
    PutLe(zip, crc_at + 4, 4, compressed);
    PutLe(zip, crc_at + 8, 4, uncompressed);
  }
}

// The CRC-32 of a stretch of bytes.
inline uint32_t CrcOf(const std::string& bytes, size_t from, size_t count) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + from), static_cast<uInt>(count)));
}

// The bytes of every regular file below a directory.
inline uint64_t BytesBelow(const std::string& directory) {
  uint64_t total = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(directory))
    if (e.is_regular_file()) total += e.file_size();
  return total;
}

inline unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xffffffffu;
}

inline bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

inline int64_t ModifiedTime(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
}

}  // namespace zip_testing
