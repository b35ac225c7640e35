// The single-instance guard, the stand-in for a named mutex.
//
// The lock is an flock on a file named after the mutex in $XDG_RUNTIME_DIR
// (or the temporary directory). It goes away when the process ends, however
// it ends.
#pragma once

#include <string>

namespace platform {

class InstanceLock {
 public:
  enum class Result { kAcquired, kAlreadyHeld, kFailed };

  explicit InstanceLock(std::string name);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the lock without waiting.
  Result Acquire();
  void Release();
  bool held() const { return fd_ >= 0; }
  // The lock file's path (UTF-8).
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace platform
