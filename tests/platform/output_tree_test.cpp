// Files made below a root through directories kept open between files.
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/output_file.h"
#include "tests/support/sandbox.h"

namespace {

class OutputTreeTest : public testing_support::Sandbox {
 protected:
  static bool Make(platform::OutputTree& tree, const std::string& relative,
                   const std::string& content) {
    platform::OutputFile file = tree.CreateFile(relative);
    return file.IsOpen() && file.Write(content.data(), content.size()) && file.Close();
  }
};

// More folders than are kept open, visited back and forth.
TEST_F(OutputTreeTest, FilesLandInTheirFoldersHoweverManyAreVisited) {
  std::filesystem::create_directory(Path("root"));
  platform::OutputTree tree(Path("root"));
  const size_t folders = platform::OutputTree::kMostOpenDirectories + 40;
  for (size_t round = 0; round < 2; ++round) {
    for (size_t i = 0; i < folders; ++i) {
      const std::string name =
          "u" + std::to_string(i % 7) + "/f" + std::to_string(i) + "/p" + std::to_string(round);
      ASSERT_TRUE(Make(tree, name, name)) << name;
    }
  }
  for (size_t i = 0; i < folders; i += 37) {
    const std::string name = "u" + std::to_string(i % 7) + "/f" + std::to_string(i) + "/p1";
    EXPECT_EQ(ReadFile("root/" + name), name);
  }
}

// A folder held open that was removed, with the whole root, and made again
// (a new extraction into the same place) gets the next files, not the
// removed one.
TEST_F(OutputTreeTest, AFolderRemovedMeanwhileIsFoundAgain) {
  std::filesystem::create_directory(Path("root"));
  platform::OutputTree tree(Path("root"));
  ASSERT_TRUE(Make(tree, "a/b/first.txt", "1"));
  std::filesystem::remove_all(Path("root"));
  std::filesystem::create_directory(Path("root"));
  ASSERT_TRUE(Make(tree, "a/b/second.txt", "2"));
  EXPECT_EQ(ReadFile("root/a/b/second.txt"), "2");
  EXPECT_FALSE(Exists("root/a/b/first.txt"));
}

// Kept open or not, a link is never followed: not one planted where a
// folder was, nor one at the file's own name, and a hard link is replaced
// rather than written through.
TEST_F(OutputTreeTest, LinksAreNeverFollowed) {
  std::filesystem::create_directory(Path("root"));
  WriteFile("outside/victim.txt", "keep");
  platform::OutputTree tree(Path("root"));
  ASSERT_TRUE(Make(tree, "pages/p1.txt", "1"));
  std::filesystem::remove_all(Path("root/pages"));
  std::filesystem::create_directory_symlink(Path("outside"), Path("root/pages"));
  EXPECT_FALSE(tree.CreateFile("pages/victim.txt").IsOpen());

  std::filesystem::create_symlink(Path("outside/victim.txt"), Path("root/soft.txt"));
  std::filesystem::create_hard_link(Path("outside/victim.txt"), Path("root/hard.txt"));
  ASSERT_TRUE(Make(tree, "soft.txt", "new"));
  ASSERT_TRUE(Make(tree, "hard.txt", "new"));
  EXPECT_EQ(ReadFile("outside/victim.txt"), "keep");
  EXPECT_FALSE(std::filesystem::is_symlink(Path("root/soft.txt")));
  EXPECT_EQ(ReadFile("root/hard.txt"), "new");
}

// With few descriptors left to the process, the directories held open are
// given back rather than failing the next file. In a child process: the
// limit is the process's.
TEST_F(OutputTreeTest, GivesBackItsDirectoriesWhenDescriptorsRunOut) {
  std::filesystem::create_directory(Path("root"));
  const std::string root = Path("root");
  EXPECT_EXIT(
      {
        struct rlimit few {};
        few.rlim_cur = few.rlim_max = 32;
        if (::setrlimit(RLIMIT_NOFILE, &few) != 0) std::exit(2);
        platform::OutputTree tree(root);
        for (int i = 0; i < 100; ++i) {
          const std::string name = "f" + std::to_string(i) + "/p.txt";
          if (!tree.CreateFile(name).IsOpen()) {
            std::fprintf(stderr, "%s failed\n", name.c_str());
            std::exit(1);
          }
        }
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_TRUE(Exists("root/f99/p.txt"));
}

TEST_F(OutputTreeTest, RefusesDotNamesAndAMissingRoot) {
  std::filesystem::create_directory(Path("root"));
  platform::OutputTree tree(Path("root"));
  for (const char* name : {"", "/", "a/..", "a/./b", "../b", "."}) {
    EXPECT_FALSE(tree.CreateFile(name).IsOpen()) << name;
  }
  EXPECT_FALSE(Exists("b"));
  platform::OutputTree missing(Path("missing"));
  EXPECT_FALSE(missing.CreateFile("a.txt").IsOpen());
  EXPECT_FALSE(Exists("missing"));
}

}  // namespace
