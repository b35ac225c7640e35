#include "util/drive_helpers.h"

#include "platform/drives.h"

bool GetDiskSpaceMB(uint64_t& total_mb, uint64_t& free_mb, const std::string& path) {
  total_mb = 0;
  free_mb = 0;
  uint64_t total = 0;
  uint64_t available = 0;
  if (!platform::FreeSpaceBytes(path, total, available)) return false;
  total_mb = total / (1024 * 1024);
  free_mb = available / (1024 * 1024);
  return true;
}

bool ListLogicalDrives(std::vector<std::string>& roots, std::vector<unsigned>& types) {
  for (const auto& m : platform::ListMounts()) {
    roots.push_back(m.root);
    types.push_back(m.drive_type);
  }
  return true;
}
