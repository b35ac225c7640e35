#include "util/path_names.h"

#include <gtest/gtest.h>

namespace {

TEST(PathNames, JoinPath) {
  const struct {
    const char* dir;
    const char* name;
    const char* joined;
  } kCases[] = {
      {"/dir//", "//a.txt", "/dir/a.txt"}, {"", "/a.txt", "/a.txt"},      {"/", "a.txt", "/a.txt"},
      {"//", "/a.txt", "/a.txt"},          {"rel", "sub/x", "rel/sub/x"}, {"/d", "", "/d/"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(JoinPath(c.dir, c.name), c.joined) << c.dir << " + " << c.name;
}

TEST(PathNames, ParentFileNameAndTitle) {
  const struct {
    const char* path;
    const char* parent;
    const char* name;
    const char* title;
  } kCases[] = {
      {"/a.txt", "/", "a.txt", "a"},
      {"/d/a.txt", "/d", "a.txt", "a"},
      {"a.txt", "a.txt", "a.txt", "a"},
      {"/d/book.part2.zip", "/d", "book.part2.zip", "book.part2"},
      {"/d/.hidden", "/d", ".hidden", ".hidden"},
      {"/d/noext", "/d", "noext", "noext"},
      {"/d/sub/", "/d/sub", "", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(GetParentDirectory(c.path), c.parent) << c.path;
    EXPECT_EQ(GetFileNameFromPath(c.path), c.name) << c.path;
    EXPECT_EQ(GetFileTitleWithoutExtension(c.path), c.title) << c.path;
  }
}

}  // namespace
