#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_lock.h"

namespace platform {

FileLock::FileLock(std::string native_path) : path_(std::move(native_path)) {}

FileLock::~FileLock() {
  Release();
}

FileLock::Result FileLock::Acquire() {
  if (fd_ >= 0) return Result::kAcquired;
  // O_NOFOLLOW: in a shared directory the name could be a planted link.
  // The umask decides who else may open it: in a program directory shared by
  // a group, the other members' programs must be able to take the lock.
  int fd;
  do {
    fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Result::kFailed;
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return saved == EWOULDBLOCK ? Result::kAlreadyHeld : Result::kFailed;
  }
  fd_ = fd;
  // The holder's pid, for whoever wonders which process keeps the lock.
  std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd_, 0) == 0) {
    ssize_t written = ::pwrite(fd_, pid.data(), pid.size(), 0);
    (void)written;
  }
  return Result::kAcquired;
}

void FileLock::Release() {
  if (fd_ < 0) return;
  // Closing drops the lock; the file stays, since removing it would let a
  // waiter lock an unlinked file while a newcomer locks a fresh one.
  ::close(fd_);
  fd_ = -1;
}

}  // namespace platform
