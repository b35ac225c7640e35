#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/codepage.h"
#include "platform/drives.h"
#include "platform/file_system.h"

namespace platform {
namespace {

struct NativeMount {
  std::string point;  // UTF-8
  std::string fs_type;
};

// Undoes the kernel's octal escapes (\040 for a blank, \134 for "\", ...).
std::string Unescape(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    auto is_octal = [&](size_t k) {
      return k < field.size() && field[k] >= '0' && field[k] <= '7';
    };
    if (field[i] == '\\' && is_octal(i + 1) && is_octal(i + 2) && is_octal(i + 3)) {
      int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
      out += static_cast<char>(value);
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

std::vector<NativeMount> ReadMountInfo() {
  std::vector<NativeMount> mounts;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  // id parent major:minor root mount-point options [optional...] - type source super-options
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::vector<std::string> parts;
    for (std::string f; fields >> f;) parts.push_back(std::move(f));
    size_t dash = 6;
    while (dash < parts.size() && parts[dash] != "-") ++dash;
    if (parts.size() < 5 || dash + 1 >= parts.size()) continue;
    mounts.push_back({Unescape(parts[4]), Unescape(parts[dash + 1])});
  }
  return mounts;
}

unsigned DriveTypeOf(const std::string& fs_type) {
  if (fs_type == "iso9660" || fs_type == "udf") return kDriveCdRom;
  static constexpr const char* kRemote[] = {"nfs",   "nfs4",  "cifs",      "smb3",
                                            "smbfs", "sshfs", "fuse.sshfs"};
  for (const char* remote : kRemote) {
    if (fs_type == remote) return kDriveRemote;
  }
  return kDriveFixed;
}

// The path itself or its nearest parent that exists, absolute and with links
// resolved; empty when nothing of it can be found.
std::string NearestExisting(const std::string& path) {
  if (path.empty()) return {};
  std::string native = ToNativePath(path);
  if (native.front() != '/') {
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd)) return {};
    native = std::string(cwd) + "/" + native;
  }
  for (;;) {
    if (char* real = ::realpath(native.c_str(), nullptr)) {
      std::string result = real;
      std::free(real);
      return result;
    }
    while (native.size() > 1 && native.back() == '/') native.pop_back();
    size_t slash = native.find_last_of('/');
    if (slash == std::string::npos) return {};
    if (slash == 0) {
      if (native == "/") return {};
      native = "/";
    } else {
      native.resize(slash);
    }
  }
}

bool IsUnder(const std::string& path, const std::string& root) {
  if (root == "/") return true;
  return path.compare(0, root.size(), root) == 0 &&
         (path.size() == root.size() || path[root.size()] == '/');
}

}  // namespace

std::vector<MountPoint> ListMounts() {
  std::vector<MountPoint> result;
  for (const NativeMount& m : ReadMountInfo()) {
    // A mount point that code page 936 cannot hold could never be addressed.
    if (!IsRepresentableInGbk(m.point)) continue;
    result.push_back({FromNativePath(m.point), m.fs_type, DriveTypeOf(m.fs_type)});
  }
  return result;
}

bool FindMountFor(const std::string& path, MountPoint& mount) {
  std::string existing = NearestExisting(path);
  if (existing.empty()) return false;
  const std::vector<NativeMount> mounts = ReadMountInfo();
  const NativeMount* best = nullptr;
  for (const NativeMount& m : mounts) {
    // ">=": of two mounts on one point the later one hides the earlier.
    if (IsUnder(existing, m.point) && (!best || m.point.size() >= best->point.size())) best = &m;
  }
  if (!best) return false;
  mount = {FromNativePath(best->point), best->fs_type, DriveTypeOf(best->fs_type)};
  return true;
}

bool FreeSpaceBytes(const std::string& path, uint64_t& total, uint64_t& available) {
  total = 0;
  available = 0;
  std::string existing = NearestExisting(path);
  struct statvfs st;
  if (existing.empty() || ::statvfs(existing.c_str(), &st) != 0) return false;
  uint64_t fragment = st.f_frsize ? st.f_frsize : st.f_bsize;
  total = static_cast<uint64_t>(st.f_blocks) * fragment;
  available = static_cast<uint64_t>(st.f_bavail) * fragment;
  return true;
}

}  // namespace platform
