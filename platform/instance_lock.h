// The single-instance guard, the stand-in for a named mutex.
//
// The lock is an flock on a file named after the mutex in $XDG_RUNTIME_DIR
// (or the temporary directory). It goes away when the process ends, however
// it ends.
#pragma once

#include <string>

#include "platform/file_lock.h"

namespace platform {

class InstanceLock {
 public:
  using Result = FileLock::Result;

  explicit InstanceLock(std::string name);
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the lock without waiting.
  Result Acquire() { return lock_.Acquire(); }
  void Release() { lock_.Release(); }
  bool held() const { return lock_.held(); }
  // The lock file's path (UTF-8).
  const std::string& path() const { return lock_.path(); }

 private:
  FileLock lock_;
};

}  // namespace platform
