// The install directory of a book and the two directories beside it while
// a new edition goes in: the staging directory the package is unpacked
// into, and the old edition, set aside for the moment of the swap. The new
// edition replaces the old by renames only, once it is complete and
// verified, so that a book is at every moment either the old edition or
// the new one, whole.
//
//   install_dir          the edition the record names (what readers open)
//   install_dir.staging  the next edition while it is unpacked
//   install_dir.old      the previous edition between the two renames
#pragma once

#include <string>

std::string StagingDirPath(const std::string& install_dir);
std::string SetAsideDirPath(const std::string& install_dir);

// Brings the directories of an interrupted installation into a consistent
// state. With install_recorded false (the record on disk does not yet name
// the new edition) a set-aside old edition goes back in place of whatever
// the swap had put there; otherwise the set-aside edition is removed. A
// staging directory is removed in both cases. Cheap when nothing is left.
void SettleInstallDirectories(const std::string& install_dir, bool install_recorded);

// Puts a set-aside old edition back in place of whatever the install
// directory holds (the staging directory is left alone).
void PutBackSetAside(const std::string& install_dir);

// Puts the complete staging directory in place of the install directory:
// the old edition (if any) is set aside, the staging directory renamed, and
// the staging directory's manifest (if any) becomes the book's. On failure
// the old edition is back and false is returned; the staging directory then
// stays for the caller to remove.
[[nodiscard]] bool SwapInStaging(const std::string& install_dir);

// Removes the set-aside old edition once the record names the new one.
void DropSetAside(const std::string& install_dir);

// The install directory and everything beside it that an installation
// leaves (uninstall).
void RemoveInstallDirectories(const std::string& install_dir);
