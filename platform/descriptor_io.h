// Writing through a POSIX descriptor, shared by the file classes of this
// layer.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string_view>

namespace platform {

// An open descriptor that closes itself; closing keeps errno as it was, so
// a failure's reason survives the cleanup.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Reset(-1); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void Reset(int fd) {
    if (fd_ >= 0) {
      int saved = errno;
      ::close(fd_);
      errno = saved;
    }
    fd_ = fd;
  }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Writes all count bytes, retrying interrupted and partial writes; false on
// an error (errno tells which).
bool WriteAllToDescriptor(int fd, const void* data, size_t count);

// The same for the data of a file at path: passes its fault point first and
// fails with ENOSPC where a test has limited the bytes the disk takes.
bool WriteFileData(int fd, const void* data, size_t count, std::string_view path);

}  // namespace platform
