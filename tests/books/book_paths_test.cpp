#include "books/book_paths.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "books/book_collection.h"
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
  // Covers anywhere else in the program directory, under any image name.
  for (const char* image : {"../../g1.bmp", "data/images/g1.gif", "data/user.png",
                            "data/u1/g1.jpeg", "img/system/g1.png", "http://h/i/g1.PNG"}) {
    EXPECT_TRUE(IsAllowedCoverPath(image)) << image;
  }
}

// A uid comes from a page: as a folder name it must not lead anywhere else.
TEST_F(BookPathsTest, UidsThatAreNoPlainFolderNameNameNoFiles) {
  const struct {
    std::string uid;
    bool safe;
  } kCases[] = {
      // "\x81\x5c": one double-byte character, whose second byte is "\\".
      {"u7", true},      {"..u7", true},
      {"张三", true},    {"\x81\x5c", true},
      {"", false},       {".", false},
      {"..", false},     {"../u7", false},
      {"/etc", false},   {"u7/..", false},
      {"a/b", false},    {"a\\b", false},
      {"u7\r\n", false}, {std::string("u7\0x", 4), false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.uid));
    EXPECT_EQ(IsSafeUid(c.uid), c.safe);
    const std::string p = dir() + "/data/";
    EXPECT_EQ(CataloguePath(c.uid), c.safe ? p + "user/" + c.uid + "/bs.dat" : "");
    EXPECT_EQ(LegacyCataloguePath(c.uid), c.safe ? p + c.uid + "/bs.dat" : "");
    EXPECT_EQ(LegacyBookListPath(c.uid), c.safe ? p + c.uid + "/bsd.dat" : "");
  }
}

TEST_F(BookPathsTest, ReaderPathStaysInsideTheInstallDirectory) {
  const struct {
    const char* reader;
    const char* below;  // below the install directory; null: refused
  } kCases[] = {
      {"reader.sh", "reader.sh"},
      {"bin\\reader", "bin/reader"},
      {"bin/tools/reader", "bin/tools/reader"},
      {"..reader", "..reader"},
      {"../reader", nullptr},
      {"bin/../../reader", nullptr},
      {"..\\..\\bin\\sh", nullptr},
      {"..", nullptr},
      {"/bin/sh", nullptr},
      {"\\bin\\sh", nullptr},
      {"", nullptr},
      {"bin/", nullptr},
  };
  BookCollection collection;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.reader);
    BookRecord record(&collection);
    record.Update([&](BookFields& f) {
      f.bookID = "5";
      f.bookURL = "data/jc/5.zip";
      f.bookReader = c.reader;
    });
    std::string install_dir = InstallDirectoryOf(record);
    EXPECT_EQ(install_dir, dir() + "/data/books/jc/5");
    EXPECT_EQ(ReaderPathOf(record), c.below ? install_dir + "/" + c.below : std::string());
  }
}

}  // namespace
