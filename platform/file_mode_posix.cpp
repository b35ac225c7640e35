#include <sys/stat.h>
#include <unistd.h>

#include <vector>

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

namespace {

bool InGroup(gid_t group) {
  if (::getegid() == group) return true;
  int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  count = ::getgroups(count, groups.data());
  for (int i = 0; i < count; ++i) {
    if (groups[static_cast<size_t>(i)] == group) return true;
  }
  return false;
}

}  // namespace

bool IsWriteProtected(std::string_view path) {
  struct stat info {};
  if (::stat(ToNativePath(path).c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return false;
  const uid_t user = ::geteuid();
  mode_t bit = S_IWOTH;
  if (user == 0 || user == info.st_uid)
    bit = S_IWUSR;
  else if (InGroup(info.st_gid))
    bit = S_IWGRP;
  return (info.st_mode & bit) == 0;
}

}  // namespace platform
