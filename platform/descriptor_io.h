// Writing through a POSIX descriptor, shared by the file classes of this
// layer.
#pragma once

#include <cstddef>

namespace platform {

// Writes all count bytes, retrying interrupted and partial writes; false on
// an error (errno tells which).
bool WriteAllToDescriptor(int fd, const void* data, size_t count);

}  // namespace platform
