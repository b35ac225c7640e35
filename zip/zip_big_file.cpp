#include "zip/zip_big_file.h"

#include <cerrno>

#include "zip/zip_exception.h"

void CZipBigFile::OpenForReading(const std::string& path) {
  path_ = path;
  position_ = 0;
  static_cast<platform::File&>(*this) = platform::File(path, platform::OpenMode::kRead);
  if (!IsOpen()) Fail();
}

void CZipBigFile::OpenDuplicateOf(const CZipBigFile& other) {
  path_ = other.path_;
  position_ = 0;
  static_cast<platform::File&>(*this) = other.Duplicate();
  if (!IsOpen()) Fail();
}

size_t CZipBigFile::ReadSome(void* buffer, size_t count) {
  size_t got = 0;
  auto* bytes = static_cast<uint8_t*>(buffer);
  while (got < count) {
    int64_t n = ReadAt(bytes + got, count - got, static_cast<int64_t>(position_));
    if (n < 0) Fail();
    if (n == 0) break;
    got += static_cast<size_t>(n);
    position_ += static_cast<uint64_t>(n);
  }
  return got;
}

void CZipBigFile::SeekTo(uint64_t offset) {
  if (!IsOpen() || offset > static_cast<uint64_t>(INT64_MAX)) {
    platform::SetLastErrorCode(IsOpen() ? EINVAL : EBADF);
    Fail();
  }
  position_ = offset;
}

uint64_t CZipBigFile::Length() const {
  int64_t size = Size();
  if (size < 0) Fail();
  return static_cast<uint64_t>(size);
}

void CZipBigFile::Fail() const {
  throw CFileException(path_, platform::LastErrorCode());
}
