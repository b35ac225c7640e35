// Writing through a POSIX descriptor, shared by the file classes of this
// layer.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform {

// Writes all count bytes, retrying interrupted and partial writes; false on
// an error (errno tells which).
bool WriteAllToDescriptor(int fd, const void* data, size_t count);

// The same for the data of a file at path: passes its fault point first and
// fails with ENOSPC where a test has limited the bytes the disk takes.
bool WriteFileData(int fd, const void* data, size_t count, std::string_view path);

}  // namespace platform
