// Listing and removing directory trees. Names come out in the order the OS
// enumerates them; nothing here sorts.
#pragma once

#include <string>
#include <vector>

using NameList = std::vector<std::string>;

// Flag bits of ListFiles.
inline constexpr int kListDirectoriesOnly = 1;  // clear: files only
inline constexpr int kListDescend = 2;

// Flag bits of ListDirectoryEntries.
inline constexpr int kIncludeDirectories = 1;
inline constexpr int kIncludeFiles = 2;

// Clears names, then lists the entries of directory matching pattern (files
// or, with kListDirectoriesOnly, directories). With kListDescend the entries
// of subdirectories follow as relative paths ("sub/file.txt"), level by level.
void ListFiles(NameList& names, const std::string& directory, const std::string& pattern,
               int flags);

// As ListFiles with independent inclusion bits and descent.
void ListDirectoryEntries(NameList& names, const std::string& directory, const std::string& pattern,
                          bool recursive, int flags);

// Deletes everything below directory and the directory itself, making
// read-only entries writable first. Files that cannot be deleted are passed
// over; the result is whether the directory itself was removed.
bool RemoveDirectoryTree(const std::string& directory);
