#include <sys/stat.h>

#include <atomic>

#include "platform/file_system.h"
#include "platform/output_file.h"
#include "platform/shared_directory.h"

namespace platform {
namespace {

std::atomic<bool> shared_with_group{false};

}  // namespace

NewFileAccess ShareNewFilesInGroupDirectory(std::string_view directory) {
  struct stat st;
  if (::stat(ToNativePath(directory).c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
      (st.st_mode & S_ISGID) == 0) {
    return NewFileAccess::kUmaskUnchanged;
  }
  SetProcessUmask(GroupSharedUmask(ProcessUmask()));
  shared_with_group = true;
  return NewFileAccess::kGroupWritable;
}

bool NewFilesSharedWithGroup() {
  return shared_with_group;
}

unsigned SharedMode(unsigned mode) {
  if (!shared_with_group) return mode;
  return (mode | ((mode & 0700) >> 3)) & ~ProcessUmask();
}

unsigned SharedDirectoryMode(unsigned mode) {
  if (!shared_with_group) return mode;
  return SharedMode(mode) | S_ISGID;
}

}  // namespace platform
