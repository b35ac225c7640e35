// Archives and file checks shared by the ZIP tests.
#pragma once

#include <sys/stat.h>

#include <string>

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
