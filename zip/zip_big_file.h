// The file the archive is read through: the platform file with 64-bit
// positions and errors raised as CFileException.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_system.h"

class CZipBigFile : public platform::File {
 public:
  CZipBigFile() = default;

  // Opens for reading. Nothing is ever written to an archive, so a package
  // that is read-only on disk opens as well. Raises CFileException.
  void OpenForReading(const std::string& path);

  // Reads up to count bytes; fewer only at the end of the file.
  size_t ReadSome(void* buffer, size_t count);
  void SeekTo(uint64_t offset);
  uint64_t Length() const;
  const std::string& path() const { return path_; }

 private:
  [[noreturn]] void Fail() const;
  std::string path_;
};
