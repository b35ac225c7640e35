#include <sys/stat.h>

#include "platform/file_mode.h"
#include "platform/file_system.h"

namespace platform {

bool MakeExecutable(std::string_view path) {
  std::string native = ToNativePath(path);
  struct stat info {};
  if (::stat(native.c_str(), &info) != 0) return false;
  mode_t mode = info.st_mode & 07777;
  if (mode & S_IRUSR) mode |= S_IXUSR;
  if (mode & S_IRGRP) mode |= S_IXGRP;
  if (mode & S_IROTH) mode |= S_IXOTH;
  return ::chmod(native.c_str(), mode) == 0;
}

}  // namespace platform
