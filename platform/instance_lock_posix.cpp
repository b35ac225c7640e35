#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/file_system.h"
#include "platform/instance_lock.h"

namespace platform {
namespace {

// The runtime directory is private to the user and cleared at log-out; the
// shared temporary directory needs the user id in the name, so that two users
// of one machine do not lock each other out.
std::string LockFilePath(const std::string& name) {
  std::string file = ToNativePath(name);
  for (char& c : file) {
    if (c == '/') c = '_';
  }
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    struct stat st;
    if (::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode))
      return std::string(runtime) + "/" + file + ".lock";
  }
  return TemporaryDirectory() + "/" + file + "-" + std::to_string(::getuid()) + ".lock";
}

}  // namespace

InstanceLock::InstanceLock(std::string name) : path_(LockFilePath(name)) {}

InstanceLock::~InstanceLock() {
  Release();
}

InstanceLock::Result InstanceLock::Acquire() {
  if (fd_ >= 0) return Result::kAcquired;
  // O_NOFOLLOW: in a shared directory the name could be a planted link.
  int fd;
  do {
    fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
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

void InstanceLock::Release() {
  if (fd_ < 0) return;
  // Closing drops the lock; the file stays, since removing it would let a
  // waiter lock an unlinked file while a newcomer locks a fresh one.
  ::close(fd_);
  fd_ = -1;
}

}  // namespace platform
