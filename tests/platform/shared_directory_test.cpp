#include "platform/shared_directory.h"

#include <sys/stat.h>

#include <string>

#include "platform/file_lock.h"
#include "platform/file_system.h"
#include "platform/output_file.h"
#include "tests/support/sandbox.h"

namespace {

using platform::NewFileAccess;

TEST(GroupSharedUmaskTest, GroupGetsTheOwnersAccessAndOthersNeverWrite) {
  struct Case {
    unsigned session;
    unsigned shared;
  } const cases[] = {{022, 002}, {077, 007}, {027, 007}, {000, 002}, {002, 002}, {026, 006}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.session);
    EXPECT_EQ(platform::GroupSharedUmask(c.session), c.shared);
  }
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// Each test runs under a session umask of 022, as desktops set it, and gets
// its own umask back afterwards.
class SharedDirectoryTest : public testing_support::Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    saved_ = static_cast<mode_t>(platform::ProcessUmask());
    platform::SetProcessUmask(022);
  }
  void TearDown() override {
    platform::SetProcessUmask(saved_);
    Sandbox::TearDown();
  }

  // What this process makes below dir: by the atomic replacement of a file,
  // a created file, nested directories and a lock file.
  void MakeFilesIn(const std::string& dir) const {
    std::string text = "x";
    ASSERT_TRUE(platform::ReplaceFileAtomically(dir + "/replaced.txt", text.data(), text.size()));
    platform::OutputFile file = platform::CreateFileBelow(dir, "made/below/file.bin");
    ASSERT_TRUE(file.IsOpen());
    ASSERT_TRUE(file.Close());
    platform::FileLock lock(dir + "/books.lock");
    ASSERT_EQ(lock.Acquire(), platform::FileLock::Result::kAcquired);
  }

  mode_t saved_ = 0;
};

// Declared first: sharing, once on, stays on for the process.
TEST_F(SharedDirectoryTest, OrdinaryDirectoryLeavesTheUmaskAlone) {
  ASSERT_EQ(::chmod(dir().c_str(), 0775), 0);
  EXPECT_EQ(platform::ShareNewFilesInGroupDirectory(dir()), NewFileAccess::kUmaskUnchanged);
  EXPECT_EQ(platform::ShareNewFilesInGroupDirectory(Path("missing")),
            NewFileAccess::kUmaskUnchanged);
  EXPECT_EQ(platform::ProcessUmask(), 022u);
  MakeFilesIn(dir());
  EXPECT_EQ(ModeOf(Path("replaced.txt")) & 020, 0u);
  EXPECT_EQ(ModeOf(Path("made/below/file.bin")) & 020, 0u);
  EXPECT_EQ(platform::SharedMode(0644), 0644u);
  EXPECT_EQ(platform::SharedDirectoryMode(0755), 0755u);
  EXPECT_FALSE(platform::NewFilesSharedWithGroup());
}

TEST_F(SharedDirectoryTest, SetGroupIdDirectoryMakesNewFilesGroupWritable) {
  ASSERT_EQ(::chmod(dir().c_str(), 02770), 0);
  ASSERT_EQ(platform::ShareNewFilesInGroupDirectory(dir()), NewFileAccess::kGroupWritable);
  // Package extraction derives its modes from this value.
  EXPECT_EQ(platform::ProcessUmask(), 002u);
  EXPECT_TRUE(platform::NewFilesSharedWithGroup());
  MakeFilesIn(dir());
  for (const char* name :
       {"replaced.txt", "made", "made/below", "made/below/file.bin", "books.lock"}) {
    SCOPED_TRACE(name);
    mode_t mode = ModeOf(Path(name));
    EXPECT_EQ(mode & 060, 060u);
    EXPECT_EQ(mode & 002, 0u);
  }
  EXPECT_EQ(ModeOf(Path("made/below")) & 02000, 02000u) << "the group bit is inherited";

  // Package entries bring bits of their own.
  struct Case {
    unsigned entry;
    unsigned made;
  } const cases[] = {{0644, 0664}, {0755, 0775}, {0600, 0660}, {0666, 0664}, {0444, 0444}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    EXPECT_EQ(platform::SharedMode(c.entry), c.made);
    EXPECT_EQ(platform::SharedDirectoryMode(c.entry), c.made | 02000);
  }
}

}  // namespace
