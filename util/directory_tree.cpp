#include "util/directory_tree.h"

#include "platform/file_system.h"
#include "util/path_names.h"

namespace {

bool IsDotEntry(const std::string& name) {
  return name == "." || name == "..";
}

void ListLevel(NameList& names, const std::string& directory, const std::string& pattern,
               bool recursive, bool include_directories, bool include_files) {
  std::vector<platform::DirectoryEntry> entries;
  platform::ListDirectory(directory, pattern, entries);
  for (const auto& e : entries) {
    if (e.is_directory ? (include_directories && !IsDotEntry(e.name)) : include_files) {
      names.push_back(e.name);
    }
  }
  if (!recursive) return;
  std::vector<platform::DirectoryEntry> all;
  platform::ListDirectory(directory, "*.*", all);
  for (const auto& e : all) {
    // Links are listed but never descended into: one pointing upwards would
    // make the walk endless.
    if (!e.is_directory || e.is_link || IsDotEntry(e.name)) continue;
    NameList sub;
    ListLevel(sub, JoinPath(directory, e.name), pattern, recursive, include_directories,
              include_files);
    for (const auto& s : sub) names.push_back(JoinPath(e.name, s));
  }
}

}  // namespace

void ListFiles(NameList& names, const std::string& directory, const std::string& pattern,
               int flags) {
  names.clear();
  bool directories = (flags & kListDirectoriesOnly) != 0;
  ListLevel(names, directory, pattern, (flags & kListDescend) != 0, directories, !directories);
}

void ListDirectoryEntries(NameList& names, const std::string& directory, const std::string& pattern,
                          bool recursive, int flags) {
  names.clear();
  ListLevel(names, directory, pattern, recursive, (flags & kIncludeDirectories) != 0,
            (flags & kIncludeFiles) != 0);
}

bool RemoveDirectoryTree(const std::string& directory) {
  return platform::RemoveTree(directory);
}
