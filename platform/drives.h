// Mounted file systems, the stand-ins for drives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Windows drive types that the program distinguishes.
inline constexpr unsigned kDriveFixed = 3;
inline constexpr unsigned kDriveRemote = 4;
inline constexpr unsigned kDriveCdRom = 5;

struct MountPoint {
  std::string root;     // GBK mount path
  std::string fs_type;  // "ext4", "iso9660", ...
  unsigned drive_type;  // kDriveCdRom for iso9660 and udf, kDriveRemote for network ones
};

// The mount table in /proc/self/mountinfo order.
std::vector<MountPoint> ListMounts();

// The mount that holds path (the longest mount root that is a prefix of the
// path or of its nearest existing parent).
bool FindMountFor(const std::string& path, MountPoint& mount);

// Total and available bytes of the file system that holds path (or its
// nearest existing parent), in 64 bits.
bool FreeSpaceBytes(const std::string& path, uint64_t& total, uint64_t& available);

}  // namespace platform
