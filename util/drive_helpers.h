// Disk space and the list of drives (mounted file systems).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Total and free space, in whole mebibytes, of the file system that holds
// path (its nearest existing parent when path does not exist yet). Computed
// in 64 bits. False, both outputs 0, when the space cannot be read.
bool GetDiskSpaceMB(uint64_t& total_mb, uint64_t& free_mb, const std::string& path);

// Appends every mount root to roots and its drive type (5 for optical media)
// at the same index of types. Always true.
bool ListLogicalDrives(std::vector<std::string>& roots, std::vector<unsigned>& types);
