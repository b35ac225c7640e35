#include "books/install_swap.h"

#include "platform/file_system.h"
#include "util/directory_tree.h"

namespace {

bool Exists(const std::string& path) {
  return platform::PathExists(path);
}

}  // namespace

std::string StagingDirPath(const std::string& install_dir) {
  return install_dir + ".staging";
}

std::string SetAsideDirPath(const std::string& install_dir) {
  return install_dir + ".old";
}

void PutBackSetAside(const std::string& install_dir) {
  const std::string set_aside = SetAsideDirPath(install_dir);
  if (!Exists(set_aside)) return;
  if (Exists(install_dir)) RemoveDirectoryTree(install_dir);
  if (!Exists(install_dir)) (void)platform::RenamePath(set_aside, install_dir);
}

void SettleInstallDirectories(const std::string& install_dir, bool install_recorded) {
  const std::string set_aside = SetAsideDirPath(install_dir);
  if (Exists(set_aside)) {
    // Until the record names the new edition, the old one is the book.
    if (!install_recorded || !Exists(install_dir))
      PutBackSetAside(install_dir);
    else
      RemoveDirectoryTree(set_aside);
  }
  const std::string staging = StagingDirPath(install_dir);
  if (Exists(staging)) RemoveDirectoryTree(staging);
}

bool SwapInStaging(const std::string& install_dir) {
  const std::string staging = StagingDirPath(install_dir);
  const std::string set_aside = SetAsideDirPath(install_dir);
  bool had_edition = Exists(install_dir);
  if (had_edition) {
    if (Exists(set_aside)) RemoveDirectoryTree(set_aside);
    if (!platform::RenamePath(install_dir, set_aside)) return false;
  }
  if (platform::RenamePath(staging, install_dir)) return true;
  if (had_edition) (void)platform::RenamePath(set_aside, install_dir);
  return false;
}

void DropSetAside(const std::string& install_dir) {
  const std::string set_aside = SetAsideDirPath(install_dir);
  if (Exists(set_aside)) RemoveDirectoryTree(set_aside);
}

void RemoveInstallDirectories(const std::string& install_dir) {
  for (const std::string& path :
       {StagingDirPath(install_dir), SetAsideDirPath(install_dir), install_dir}) {
    if (Exists(path)) RemoveDirectoryTree(path);
  }
}
