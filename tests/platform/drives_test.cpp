#include "platform/drives.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>

#include "tests/support/sandbox.h"

namespace {

using platform::FindMountFor;
using platform::FreeSpaceBytes;
using platform::ListMounts;
using platform::MountPoint;

class DrivesTest : public testing_support::Sandbox {};

TEST_F(DrivesTest, MountTableHasTheRootAndProc) {
  std::vector<MountPoint> mounts = ListMounts();
  auto has = [&](const std::string& root, const std::string& type) {
    return std::any_of(mounts.begin(), mounts.end(), [&](const MountPoint& m) {
      return m.root == root && (type.empty() || m.fs_type == type);
    });
  };
  EXPECT_TRUE(has("/", ""));
  EXPECT_TRUE(has("/proc", "proc"));
  for (const MountPoint& m : mounts) {
    EXPECT_EQ(m.drive_type == platform::kDriveCdRom, m.fs_type == "iso9660" || m.fs_type == "udf")
        << m.root;
  }
}

TEST_F(DrivesTest, MountForPathIsTheLongestRootThatHoldsIt) {
  MountPoint mount;
  ASSERT_TRUE(FindMountFor("/proc/self/status", mount));
  EXPECT_EQ(mount.root, "/proc");
  EXPECT_EQ(mount.fs_type, "proc");
  EXPECT_EQ(mount.drive_type, platform::kDriveFixed);

  MountPoint here, below;
  ASSERT_TRUE(FindMountFor(dir(), here));
  // Not there yet: the nearest existing parent decides.
  ASSERT_TRUE(FindMountFor(Path("not/yet/created.zip"), below));
  EXPECT_EQ(below.root, here.root);
  EXPECT_EQ(below.fs_type, here.fs_type);
  EXPECT_EQ(dir().compare(0, here.root.size(), here.root), 0);
}

// Needs the right to mount; CI runs as root, a developer's machine may not.
TEST_F(DrivesTest, EscapedMountPointIsDecoded) {
  std::string point = Path("with blank\\and tab\t");
  WriteFile("with blank\\and tab\t/.keep", "");
  if (mount("tomerack-test", point.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here";
  }
  std::vector<MountPoint> mounts = ListMounts();
  bool listed = std::any_of(mounts.begin(), mounts.end(),
                            [&](const MountPoint& m) { return m.root == point; });
  MountPoint found;
  bool ok = FindMountFor(point + "/file", found);
  uint64_t total = 0, available = 0;
  bool space = FreeSpaceBytes(point, total, available);
  umount(point.c_str());
  EXPECT_TRUE(listed);
  ASSERT_TRUE(ok);
  EXPECT_EQ(found.root, point);
  EXPECT_EQ(found.fs_type, "tmpfs");
  ASSERT_TRUE(space);
  EXPECT_EQ(total, 1024u * 1024u);
}

TEST_F(DrivesTest, FreeSpaceOfPathOrNearestParent) {
  uint64_t total = 0, available = 0;
  ASSERT_TRUE(FreeSpaceBytes(Path("missing/deeper/file.zip"), total, available));
  struct statvfs st;
  ASSERT_EQ(statvfs(dir().c_str(), &st), 0);
  EXPECT_EQ(total, static_cast<uint64_t>(st.f_blocks) * st.f_frsize);
  EXPECT_GT(total, 0u);
  EXPECT_LE(available, total);

  total = available = 1;
  EXPECT_FALSE(FreeSpaceBytes("", total, available));
  EXPECT_EQ(total, 0u);
  EXPECT_EQ(available, 0u);
}

}  // namespace
