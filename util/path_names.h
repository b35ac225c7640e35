// Path texts: parents, joins and name parts. Paths are code page 936 texts
// with "/" separators; nothing here touches the disk, resolves relative
// parts or changes case.
#pragma once

#include <string>

// The directory of the running executable, without a trailing separator.
std::string GetProgramDirectory();

// The text before the last separator. The parent of a name directly under the
// root is the root "/" (as a bare drive keeps its separator); a path without
// a separator is returned unchanged.
std::string GetParentDirectory(const std::string& path);

// directory + "/" + name, with trailing separators of directory and leading
// separators of name removed. An empty directory gives name unchanged; the
// root directory gives "/" + name.
std::string JoinPath(const std::string& directory, const std::string& name);

// The text after the last separator; a path without one is returned unchanged.
std::string GetFileNameFromPath(const std::string& path);

// The file name cut before its last dot, unless that dot is its first
// character (".hidden" stays ".hidden").
std::string GetFileTitleWithoutExtension(const std::string& path);

// "\" separators become "/", character by character (a trail byte 0x5C of
// a double-byte character stays).
std::string ForwardSlashes(const std::string& text);
