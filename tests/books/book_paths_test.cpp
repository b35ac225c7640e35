#include "books/book_paths.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/program_dir.h"

namespace {

class BookPathsTest : public testing_support::ProgramDirSandbox {};

TEST_F(BookPathsTest, PackageAndInstallDirectory) {
  const std::string p = dir();
  const struct {
    const char* url;
    const char* id;
    std::string base;
    std::string package;
  } kCases[] = {
      {"data/jc/7/10101.zip", "10101", p, p + "/data/books/jc/7/10101.zip"},
      {"/x/y.zip", "5", p, p + "/data/books/x/5.zip"},
      {"DATA/x/y.zip", "5", p, p + "/data/books/x/5.zip"},
      {"http://h/d/y.zip", "5", p, p + "/data/books/5.zip"},
      {"http://h/res/data/jc/y.zip", "5", p, p + "/data/books/jc/5.zip"},
      {"https://h/res/data/jc/y.zip", "5", p, p + "/data/books/jc/5.zip"},
      {"data\\jc\\y.zip", "5", p, p + "/data/books/jc/5.zip"},
      {"data/jc/7/10101.zip", "10101", p + "/other/", p + "/other/data/books/jc/7/10101.zip"},
      // Nothing from outside climbs out of data/books.
      {"../../../etc/y.zip", "5", p, p + "/data/books/etc/5.zip"},
      {"data/a/..\\..\\..\\y.zip", "5", p, p + "/data/books/a/5.zip"},
      {"data/a/y.zip", "../../../x", p, p + "/data/books/a/x.zip"},
  };
  for (const auto& c : kCases) {
    std::string package = PackagePath(c.url, c.id, c.base);
    EXPECT_EQ(package, c.package) << c.url;
    EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(package).parent_path()))
        << c.url;
    EXPECT_EQ(InstallDirPath(package), c.package.substr(0, c.package.size() - 4)) << c.url;
  }
  EXPECT_EQ(InstallDirPath("/x/book.ZIP"), "/x/book.ZIP");
}

TEST_F(BookPathsTest, PackageAndDigestUrls) {
  const struct {
    const char* url;
    const char* root;
    const char* expected;
  } kCases[] = {
      {"data/jc/7/10101.zip", "http://d.example/", "http://d.example/data/jc/7/P9.zip"},
      {"/data/jc/7/10101.zip", "http://d.example//", "http://d.example/data/jc/7/P9.zip"},
      {"http://other/b/10101.zip", "http://d.example", "http://other/b/P9.zip"},
      {"HTTPS://other/b/10101.zip", "http://d.example", "HTTPS://other/b/P9.zip"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(PackageUrl(c.url, "P9", c.root), c.expected) << c.url;
    EXPECT_EQ(DigestUrl(c.url, "P9", c.root), std::string(c.expected) + ".MD5") << c.url;
  }
}

TEST_F(BookPathsTest, BookFilePaths) {
  const std::string p = dir();
  EXPECT_EQ(RecordPath("10101"), p + "/data/bookinf/10101.inf");
  EXPECT_EQ(DamagedRecordPath(RecordPath("1")), p + "/data/bookinf/1.inf.err");
  EXPECT_EQ(PackageListPath("10101"), p + "/data/bookinf/10101.lst");
  EXPECT_EQ(CataloguePath("u7"), p + "/data/user/u7/bs.dat");
  EXPECT_EQ(LegacyCataloguePath("u7"), p + "/data/u7/bs.dat");
  EXPECT_EQ(LegacyBookListPath("u7"), p + "/data/u7/bsd.dat");
  EXPECT_EQ(CoverImagePath("/img/jc/1.png", p), p + "/img/jc/1.png");
  EXPECT_EQ(CoverImagePath("img\\jc\\1.png", p), p + "/img/jc/1.png");
  EXPECT_EQ(CoverImagePath("../../img/1.png", p), p + "/img/1.png");
}

}  // namespace
