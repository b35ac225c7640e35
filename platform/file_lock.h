// An exclusive lock on a lock file, held by one process at a time: flock,
// taken without waiting. It goes away when the process ends, however it
// ends, and started programs do not inherit it.
#pragma once

#include <string>

namespace platform {

class FileLock {
 public:
  enum class Result { kAcquired, kAlreadyHeld, kFailed };

  // native_path: the lock file (UTF-8, as the OS sees it). It is created
  // when missing, never through a symbolic link, and stays after Release.
  explicit FileLock(std::string native_path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Takes the lock without waiting; taking it again is harmless. The
  // holder's pid is written into the file.
  Result Acquire();
  void Release();
  bool held() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace platform
