// The file the archive is read through: the platform file with 64-bit
// positions and errors raised as CFileException.
//
// The position is the reader's own: reads go to the file at that offset and
// never move the file's shared position, so that readers on other threads
// can read the same open file through duplicates of it.
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
  // The file that other has open, under a descriptor of its own, at position
  // 0. However the name is used meanwhile, it is the same file. Raises
  // CFileException.
  void OpenDuplicateOf(const CZipBigFile& other);

  // Reads up to count bytes; fewer only at the end of the file.
  size_t ReadSome(void* buffer, size_t count);
  void SeekTo(uint64_t offset);
  uint64_t Length() const;
  const std::string& path() const { return path_; }

 private:
  [[noreturn]] void Fail() const;
  std::string path_;
  uint64_t position_ = 0;
};
