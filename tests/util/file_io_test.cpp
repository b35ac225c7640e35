#include "util/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "platform/file_system.h"
#include "tests/support/sandbox.h"
#include "util/directory_tree.h"
#include "util/drive_helpers.h"

namespace {

using FileIoTest = testing_support::Sandbox;

TEST_F(FileIoTest, CreatesParentsButNotTheLastPart) {
  EXPECT_TRUE(CreateParentDirectories(Path("x/y/z.dat")));
  EXPECT_TRUE(std::filesystem::is_directory(Path("x/y")));
  EXPECT_FALSE(Exists("x/y/z.dat"));
  EXPECT_TRUE(CreateDirectoryTree(Path("p/q")));
  EXPECT_TRUE(std::filesystem::is_directory(Path("p/q")));
  WriteFile("file", "x");
  EXPECT_FALSE(CreateDirectoryTree(Path("file/sub")));
}

TEST_F(FileIoTest, WholeFilesAndRanges) {
  std::string data;
  WriteFile("empty", "");
  EXPECT_FALSE(ReadWholeFile(Path("empty"), data));
  EXPECT_FALSE(ReadWholeFile(Path("missing"), data));
  EXPECT_FALSE(ReadWholeFile(dir(), data));  // a directory is not a file

  ASSERT_TRUE(WriteWholeFile("hello world", 11, Path("new/dir/f.txt")));
  ASSERT_TRUE(ReadWholeFile(Path("new/dir/f.txt"), data));
  EXPECT_EQ(data, "hello world");
  ASSERT_TRUE(WriteWholeFileThrough("bye", 3, Path("new/dir/f.txt")));
  EXPECT_EQ(ReadFile("new/dir/f.txt"), "bye");

  char buffer[8];
  uint32_t got = 0;
  ASSERT_TRUE(ReadFileRange(buffer, sizeof buffer, got, Path("new/dir/f.txt"), 1));
  EXPECT_EQ(std::string(buffer, got), "ye");
  EXPECT_FALSE(ReadFileRange(buffer, sizeof buffer, got, Path("missing")));

  uint64_t size = 0;
  ASSERT_TRUE(GetFileSizeOf(Path("new/dir/f.txt"), size));
  EXPECT_EQ(size, 3u);
}

TEST_F(FileIoTest, AtomicWriteReplacesAndLeavesNoTemporaryFile) {
  WriteFile("cfg/Config.EF", "old content");
  ASSERT_TRUE(WriteWholeFileAtomically("new", 3, Path("cfg/Config.EF")));
  EXPECT_EQ(ReadFile("cfg/Config.EF"), "new");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Path("cfg")),
                          std::filesystem::directory_iterator()),
            1);
  WriteFile("blocker", "");
  EXPECT_FALSE(WriteWholeFileAtomically("x", 1, Path("blocker/f")));
}

// The mode bits decide, for root too: a file without the owner's write bit
// is never replaced, even when its group or others may write.
TEST_F(FileIoTest, AtomicWriteLeavesWriteProtectedFilesAlone) {
  const struct {
    unsigned mode;
    bool replaced;
  } kCases[] = {{0644, true}, {0600, true}, {0444, false}, {0400, false}, {0466, false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "mode 0" << std::oct << c.mode);
    WriteFile("cfg/Config.EF", "old content");
    ASSERT_EQ(chmod(Path("cfg/Config.EF").c_str(), c.mode), 0);
    platform::SetLastErrorCode(0);
    EXPECT_EQ(WriteWholeFileAtomically("new", 3, Path("cfg/Config.EF")), c.replaced);
    EXPECT_EQ(ReadFile("cfg/Config.EF"), c.replaced ? "new" : "old content");
    struct stat st {};
    ASSERT_EQ(stat(Path("cfg/Config.EF").c_str(), &st), 0);
    if (!c.replaced) {
      EXPECT_EQ(platform::LastErrorCode(), EACCES);
      EXPECT_EQ(st.st_mode & 0777, c.mode);
    }
    // No temporary file is left behind either way.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Path("cfg")),
                            std::filesystem::directory_iterator()),
              1);
    ASSERT_EQ(chmod(Path("cfg/Config.EF").c_str(), 0644), 0);
  }
}

TEST_F(FileIoTest, AppendsCreateMissingFilesWithTheirDirectories) {
  ASSERT_TRUE(AppendTextToFile("one\r\n", Path("log/a/x.txt")));
  ASSERT_TRUE(AppendTextToFile("two\r\n", Path("log/a/x.txt")));
  ASSERT_TRUE(AppendBytesToFile("3", 1, Path("log/a/x.txt")));
  EXPECT_EQ(ReadFile("log/a/x.txt"), "one\r\ntwo\r\n3");
}

TEST_F(FileIoTest, ListFilesByFlags) {
  WriteFile("a.txt", "");
  WriteFile("sub/b.txt", "");
  WriteFile("sub/deeper/c.txt", "");
  WriteFile("sub/skip.bin", "");
  NameList names;
  auto sorted = [&names] {
    NameList copy = names;
    std::sort(copy.begin(), copy.end());
    return copy;
  };
  ListFiles(names, dir(), "*.txt", 0);
  EXPECT_EQ(sorted(), NameList({"a.txt"}));
  ListFiles(names, dir(), "*.txt", kListDescend);
  EXPECT_EQ(sorted(), NameList({"a.txt", "sub/b.txt", "sub/deeper/c.txt"}));
  // The level above comes first.
  EXPECT_EQ(names.front(), "a.txt");
  ListFiles(names, dir(), "*.*", kListDirectoriesOnly);
  EXPECT_EQ(sorted(), NameList({"sub"}));
  ListFiles(names, dir(), "*.*", kListDirectoriesOnly | kListDescend);
  EXPECT_EQ(sorted(), NameList({"sub", "sub/deeper"}));
  ListDirectoryEntries(names, Path("sub"), "*.*", false, kIncludeDirectories | kIncludeFiles);
  EXPECT_EQ(sorted(), NameList({"b.txt", "deeper", "skip.bin"}));
  ListFiles(names, Path("missing"), "*.*", kListDescend);
  EXPECT_TRUE(names.empty());
}

TEST_F(FileIoTest, ListingNeverDescendsThroughLinks) {
  WriteFile("d/a.txt", "");
  WriteFile("d/[1].txt", "");
  std::filesystem::create_directory_symlink("..", Path("d/up"));
  std::filesystem::create_directory_symlink("..", Path("d/up2"));
  NameList names;
  ListFiles(names, Path("d"), "*.txt", kListDescend);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, NameList({"[1].txt", "a.txt"}));
  // Brackets are plain characters in a pattern.
  ListFiles(names, Path("d"), "[1].txt", 0);
  EXPECT_EQ(names, NameList({"[1].txt"}));
  ListFiles(names, Path("d"), "*.*", kListDirectoriesOnly | kListDescend);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, NameList({"up", "up2"}));
}

TEST_F(FileIoTest, SpecialFilesAreNotReadAsFiles) {
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0666), 0);
  std::string data;
  EXPECT_FALSE(ReadWholeFile(Path("fifo"), data));  // returns at once
  uint64_t size = 0;
  EXPECT_FALSE(GetFileSizeOf(Path("fifo"), size));
  EXPECT_FALSE(WriteWholeFile("x", 1, Path("fifo")));
}

TEST_F(FileIoTest, RemoveDirectoryTreeRemovesReadOnlyEntries) {
  WriteFile("book/a.txt", "a");
  WriteFile("book/ro/b.txt", "b");
  chmod(Path("book/ro/b.txt").c_str(), 0444);
  chmod(Path("book/ro").c_str(), 0555);
  std::filesystem::create_symlink(dir() + "/outside", Path("book/link"));
  WriteFile("outside/keep.txt", "keep");
  EXPECT_TRUE(RemoveDirectoryTree(Path("book")));
  EXPECT_FALSE(Exists("book"));
  // A link inside the tree is removed, not followed.
  EXPECT_EQ(ReadFile("outside/keep.txt"), "keep");
  EXPECT_FALSE(RemoveDirectoryTree(Path("book")));

  // Handed a link, it removes the link and leaves the target's files.
  std::filesystem::create_directory_symlink(dir() + "/outside", Path("book-link"));
  RemoveDirectoryTree(Path("book-link"));
  EXPECT_FALSE(std::filesystem::is_symlink(Path("book-link")));
  EXPECT_EQ(ReadFile("outside/keep.txt"), "keep");

  // Names that are not valid text on this system go as well.
  WriteFile("odd/x", "");
  WriteFile("odd/bad\xFF\xFEname", "");
  WriteFile("odd/sub\xC3/f", "");
  EXPECT_TRUE(RemoveDirectoryTree(Path("odd")));
  EXPECT_FALSE(Exists("odd"));
}

TEST_F(FileIoTest, DiskSpaceOfAPathThatDoesNotExistYet) {
  uint64_t total = 0, free_mb = 0;
  ASSERT_TRUE(GetDiskSpaceMB(total, free_mb, Path("not/yet/there")));
  EXPECT_GT(total, 0u);
  EXPECT_LE(free_mb, total);
}

}  // namespace
