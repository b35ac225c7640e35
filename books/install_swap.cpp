#include "books/install_swap.h"

#include "books/book_manifest.h"
#include "platform/file_system.h"
#include "util/directory_tree.h"
#include "util/file_io.h"

std::string StagingDirPath(const std::string& install_dir) {
  return install_dir + ".staging";
}

std::string SetAsideDirPath(const std::string& install_dir) {
  return install_dir + ".old";
}

void PutBackSetAside(const std::string& install_dir) {
  const std::string set_aside = SetAsideDirPath(install_dir);
  if (!FileExists(set_aside)) return;
  // The manifest there may be the new edition's already: the old one goes
  // back without one (unchecked) rather than with the wrong one.
  platform::RemoveFile(ManifestPathFor(install_dir));
  if (FileExists(install_dir)) RemoveDirectoryTree(install_dir);
  if (!FileExists(install_dir)) (void)platform::RenamePath(set_aside, install_dir);
}

void SettleInstallDirectories(const std::string& install_dir, bool install_recorded) {
  const std::string set_aside = SetAsideDirPath(install_dir);
  if (FileExists(set_aside)) {
    // Until the record names the new edition, the old one is the book.
    if (!install_recorded || !FileExists(install_dir))
      PutBackSetAside(install_dir);
    else
      DropSetAside(install_dir);
  }
  const std::string staging = StagingDirPath(install_dir);
  platform::RemoveFile(ManifestPathFor(staging));
  if (FileExists(staging)) RemoveDirectoryTree(staging);
  RemoveAbandonedManifestWrites(install_dir);
}

bool SwapInStaging(const std::string& install_dir) {
  const std::string staging = StagingDirPath(install_dir);
  const std::string set_aside = SetAsideDirPath(install_dir);
  bool had_edition = FileExists(install_dir);
  // The old edition's manifest goes first: cut short anywhere below, a book
  // is left without a manifest (unchecked), never beside another's.
  const std::string manifest = ManifestPathFor(install_dir);
  if (FileExists(manifest) && !platform::RemoveFile(manifest)) return false;
  if (had_edition) {
    if (FileExists(set_aside)) RemoveDirectoryTree(set_aside);
    if (!platform::RenamePath(install_dir, set_aside)) return false;
  }
  if (!platform::RenamePath(staging, install_dir)) {
    if (had_edition) (void)platform::RenamePath(set_aside, install_dir);
    return false;
  }
  const std::string staged_manifest = ManifestPathFor(staging);
  if (FileExists(staged_manifest)) (void)platform::RenamePath(staged_manifest, manifest);
  return true;
}

void DropSetAside(const std::string& install_dir) {
  const std::string set_aside = SetAsideDirPath(install_dir);
  if (FileExists(set_aside)) RemoveDirectoryTree(set_aside);
}

void RemoveInstallDirectories(const std::string& install_dir) {
  // The manifests before the files they list: cut short in between, what
  // is left is a directory the next start removes, never a stray manifest.
  platform::RemoveFile(ManifestPathFor(install_dir));
  platform::RemoveFile(ManifestPathFor(StagingDirPath(install_dir)));
  for (const std::string& path :
       {StagingDirPath(install_dir), SetAsideDirPath(install_dir), install_dir}) {
    if (FileExists(path)) RemoveDirectoryTree(path);
  }
}
