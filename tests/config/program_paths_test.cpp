#include "config/program_paths.h"

#include <gtest/gtest.h>

#include "platform/program_location.h"

namespace {

class ProgramPathsTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::SetProgramPath(""); }
};

TEST_F(ProgramPathsTest, DirectoriesAndInstanceIniFollowTheExecutable) {
  const struct {
    const char* exe;
    const char* ini;
  } kCases[] = {
      {"/opt/tr/tomerack", "/opt/tr/system/tomerack.ini"},
      {"/opt/tr/tomerack.bin", "/opt/tr/system/tomerack.ini"},
      {"/opt/tr/my.app.exe", "/opt/tr/system/my.app.ini"},
      {"/opt/tr/.hidden", "/opt/tr/system/.hidden.ini"},
  };
  for (const auto& c : kCases) {
    platform::SetProgramPath(c.exe);
    EXPECT_EQ(GetInstanceIniPath(), c.ini) << c.exe;
  }
  platform::SetProgramPath("/opt/tr/tomerack");
  EXPECT_EQ(GetProgramFileName(), "tomerack");
  EXPECT_EQ(GetSystemDirectoryPath(), "/opt/tr/system");
  EXPECT_EQ(GetTempDirectoryPath(), "/opt/tr/temp");
  EXPECT_EQ(GetDownloadDirectoryPath(), "/opt/tr/download");
}

TEST_F(ProgramPathsTest, SiblingIniPath) {
  const struct {
    const char* file;
    const char* ini;
  } kCases[] = {
      {"/books/b1/reader.exe", "/books/b1/system/reader.ini"},
      {"/books/b1/reader", "/books/b1/system/reader.ini"},
      {"/books/b1/a.exe", "/books/b1/system/a.ini"},
      {"/books/b1/r.ex", "/books/b1/system/r.ex.ini"},
  };
  for (const auto& c : kCases) EXPECT_EQ(GetSiblingIniPath(c.file), c.ini) << c.file;
}

TEST_F(ProgramPathsTest, FileNamePart) {
  size_t length = 0;
  EXPECT_EQ(GetFileNamePart("/a/b/name.txt", length), "name.txt");
  EXPECT_EQ(length, 8u);
  EXPECT_EQ(GetFileNamePart("plain"), "plain");
}

}  // namespace
