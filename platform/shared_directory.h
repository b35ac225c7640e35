// Program directories shared by the desktop accounts of one machine.
//
// An installation for several accounts gives its program directory to a
// group and sets the directory's set-group-ID bit, so that everything made
// below it belongs to that group. What one member makes there must stay
// writable for the others, whatever umask their sessions set.
#pragma once

#include <string_view>

namespace platform {

enum class NewFileAccess { kUmaskUnchanged, kGroupWritable };

// The umask of a process working in a shared directory: the group gets
// whatever the owner gets, the others never write.
constexpr unsigned GroupSharedUmask(unsigned umask) {
  return (umask & ~070u & 0777u) | 002u;
}

// When directory (code page 936) is a set-group-ID directory, sets the
// process's umask to GroupSharedUmask of the current one. Call it at start,
// before any other thread makes files: the umask belongs to the process.
NewFileAccess ShareNewFilesInGroupDirectory(std::string_view directory);

// Whether ShareNewFilesInGroupDirectory changed this process's umask.
bool NewFilesSharedWithGroup();

// Permission bits for a file or directory made with bits of its own (a
// package entry's, already limited by the umask): once this process shares
// new files with its group, the group gets the owner's bits, so that another
// member can replace and remove what it unpacked; otherwise mode unchanged.
unsigned SharedMode(unsigned mode);

// The same for a directory; it also keeps the set-group-ID bit, which
// setting a directory's bits would otherwise clear, so that what is made
// inside still belongs to the group.
unsigned SharedDirectoryMode(unsigned mode);

}  // namespace platform
