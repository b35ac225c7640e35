// Whole-archive extraction as the installation and the admin tool run it.
#include "zip/extract_archive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "platform/shared_directory.h"
#include "tests/support/run_command.h"
#include "tests/support/sandbox.h"
#include "tests/zip/zip_test_support.h"
#include "zip/zip_archive.h"

namespace {

using namespace zip_testing;
using testing_support::RunCommand;

class ExtractArchiveTest : public testing_support::Sandbox {
 protected:
  std::string Package(const std::vector<ZipEntrySpec>& entries) {
    WriteFile("book.zip", MakeZip(entries));
    return Path("book.zip");
  }
};

TEST_F(ExtractArchiveTest, EmptiesTheDirectoryThenWritesEveryEntry) {
  WriteFile("book/stale.txt", "from the previous version");
  std::string message;
  ExtractReport report;
  int rc = ExtractArchive(
      Package({Entry("index.html", "<html>"), DirectoryEntry("img/"),
               Entry("img/p1.png", NoiseBytes(4000), ZipEntrySpec::Method::kStored)}),
      Path("book"), message, &report);
  ASSERT_EQ(rc, kExtractOk) << message;
  EXPECT_EQ(message, "");
  EXPECT_EQ(report.entries_written, 3u);
  EXPECT_FALSE(Exists("book/stale.txt"));
  EXPECT_EQ(ReadFile("book/index.html"), "<html>");
  EXPECT_EQ(ReadFile("book/img/p1.png"), NoiseBytes(4000));
}

TEST_F(ExtractArchiveTest, StopsAtTheFirstEntryThatFails) {
  std::string message;
  ExtractReport report;
  // "a" is a file, so "a/b.txt" cannot be created below it.
  int rc = ExtractArchive(Package({Entry("a", "file"), Entry("a/b.txt", "x"), Entry("c.txt", "y")}),
                          Path("book"), message, &report);
  EXPECT_EQ(rc, kExtractEntryFailed);
  EXPECT_EQ(message, Path("book") + "/a/b.txt" + kEntryWriteFailedTail);
  EXPECT_EQ(report.entries_written, 1u);
  EXPECT_FALSE(Exists("book/c.txt"));
}

TEST_F(ExtractArchiveTest, DeclaredSizeIsTheSumOfTheEntries) {
  uint64_t bytes = 1;
  ASSERT_TRUE(ReadDeclaredSize(Package({Entry("index.html", TextBytes(300000)), DirectoryEntry("img/"),
                                        Entry("img/p1.png", NoiseBytes(4000),
                                              ZipEntrySpec::Method::kStored)}),
                               bytes));
  EXPECT_EQ(bytes, 304000u);
  ASSERT_TRUE(ReadDeclaredSize(Package({}), bytes));
  EXPECT_EQ(bytes, 0u);
  EXPECT_FALSE(ReadDeclaredSize(Path("missing.zip"), bytes));
  WriteFile("noise.zip", NoiseBytes(5000));
  EXPECT_FALSE(ReadDeclaredSize(Path("noise.zip"), bytes));
}

// Entries whose data yields more than they declare: a deflate stream that
// goes on, stored data longer than its size. However many there are, the
// directory never holds more than the declared sum.
TEST_F(ExtractArchiveTest, NeverWritesMoreThanTheEntriesDeclare) {
  constexpr uint32_t kDeclared = 1000;
  const struct {
    const char* label;
    ZipEntrySpec::Method method;
    std::string data;
  } kCases[] = {
      {"deflated", ZipEntrySpec::Method::kDeflated, TextBytes(3000000)},
      {"deflated, just over", ZipEntrySpec::Method::kDeflated, TextBytes(kDeclared + 1)},
      {"stored", ZipEntrySpec::Method::kStored, NoiseBytes(70000)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    std::ostringstream out;
    ZipWriter writer(out);
    for (const char* name : {"p1.txt", "p2.txt", "p3.txt"}) writer.Add(Entry(name, c.data, c.method));
    writer.Finish();
    std::string bytes = out.str();
    std::vector<size_t> central = CentralHeaderOffsets(bytes);
    for (size_t i = 0; i < central.size(); ++i) {
      const auto& p = writer.placements()[i];
      PatchEntry(bytes, p, central[i], CrcOf(c.data, 0, kDeclared), p.compressed_size, kDeclared);
    }
    WriteFile("bomb.zip", bytes);
    uint64_t declared = 0;
    ASSERT_TRUE(ReadDeclaredSize(Path("bomb.zip"), declared));
    EXPECT_EQ(declared, 3u * kDeclared);
    std::string message;
    EXPECT_NE(ExtractArchive(Path("bomb.zip"), Path("book"), message), kExtractOk);
    EXPECT_LE(BytesBelow(Path("book")), declared);
    EXPECT_LE(BytesBelow(Path("book")), kDeclared);  // it stops at the first entry
  }
}

TEST_F(ExtractArchiveTest, ExceptionsBecomeTheirCodeAndMessage) {
  std::ostringstream out;
  ZipWriter writer(out);
  writer.Add(Entry("page.txt", TextBytes(1000), ZipEntrySpec::Method::kStored));
  writer.Finish();
  std::string bad_crc = out.str();
  bad_crc[writer.placements()[0].data_offset] ^= 0x20;
  WriteFile("crc.zip", bad_crc);

  std::string message;
  ExtractReport report;
  EXPECT_EQ(ExtractArchive(Path("crc.zip"), Path("book"), message, &report),
            kExtractFailedException);
  // The reader's own exception has no description.
  EXPECT_EQ(message, kExtractExceptionPrefix);
  EXPECT_NE(report.detail.find("cause 11"), std::string::npos) << report.detail;

  EXPECT_EQ(ExtractArchive(Path("missing.zip"), Path("book"), message), kExtractFailedException);
  EXPECT_EQ(message.rfind(std::string(kExtractExceptionPrefix) + Path("missing.zip") + "：", 0), 0u)
      << message;
}

TEST_F(ExtractArchiveTest, DirectoryThatCannotBeRemovedIsReported) {
  WriteFile("book", "a file where the directory should be");
  std::string message;
  EXPECT_EQ(ExtractArchive(Package({Entry("x.txt", "x")}), Path("book"), message),
            kExtractDirectoryBusy);
  EXPECT_EQ(message, kDirectoryBusyMessage);
}

// The admin tool, run as a separate process.
class ZipToolTest : public ExtractArchiveTest {
 protected:
  testing_support::CommandResult Tool(const std::vector<std::string>& args) {
    return RunCommand(TOMERACK_TOOL_PATH, args, {}, {{"TOMERACK_REGISTRY_DIR", Path("registry")}});
  }
};

TEST_F(ZipToolTest, ListAndExtract) {
  std::string package = Package({Entry("a/b.txt", "hello"), DirectoryEntry("c/")});
  auto list = Tool({"zip", "list", package});
  ASSERT_EQ(list.exit_code, 0) << list.err;
  EXPECT_NE(list.out.find("a/b.txt"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("2 entries"), std::string::npos) << list.out;

  auto extract = Tool({"zip", "extract", package, Path("dir")});
  ASSERT_EQ(extract.exit_code, 0) << extract.err;
  EXPECT_EQ(ReadFile("dir/a/b.txt"), "hello");
  EXPECT_TRUE(std::filesystem::is_directory(Path("dir/c")));
}

TEST_F(ZipToolTest, FailuresExitNonZeroWithTheReason) {
  const struct {
    const char* label;
    std::vector<ZipEntrySpec> entries;
    const char* reason;
  } kCases[] = {
      {"traversal", {Entry("ok.txt", "x"), Entry("../evil.txt", "x")}, "entry 2 of 2"},
      {"blocked", {Entry("a", "x"), Entry("a/b", "x")}, "entry 2 of 2"},
  };
  for (const auto& c : kCases) {
    auto r = Tool({"zip", "extract", Package(c.entries), Path("dir")});
    EXPECT_EQ(r.exit_code, 1) << c.label;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << c.label << ": " << r.err;
    EXPECT_FALSE(Exists("evil.txt"));
  }
  WriteFile("junk.zip", NoiseBytes(1000));
  auto junk = Tool({"zip", "extract", Path("junk.zip"), Path("dir")});
  EXPECT_EQ(junk.exit_code, 1);
  EXPECT_NE(junk.err.find("central directory not found"), std::string::npos) << junk.err;
  EXPECT_EQ(Tool({"zip", "extract", Path("junk.zip")}).exit_code, 2);
}

// Archives made by another writer, and ours read by another reader.
TEST_F(ZipToolTest, AgreesWithOtherZipTools) {
  if (!std::filesystem::exists("/usr/bin/bsdtar") || !std::filesystem::exists("/usr/bin/unzip"))
    GTEST_SKIP() << "bsdtar or unzip is not installed";
  WriteFile("tree/bin/reader", "#!/bin/sh\necho reader\n");
  std::filesystem::permissions(Path("tree/bin/reader"), std::filesystem::perms(0755));
  WriteFile("tree/pages/p1.txt", TextBytes(200000));
  WriteFile("tree/pages/p2.bin", NoiseBytes(100000));
  auto made = RunCommand(
      "/bin/sh",
      {"-c", "cd '" + Path("tree") + "' && bsdtar --format zip -cf ../other.zip bin pages"});
  ASSERT_EQ(made.exit_code, 0) << made.err;
  auto ours = Tool({"zip", "extract", Path("other.zip"), Path("ours")});
  ASSERT_EQ(ours.exit_code, 0) << ours.err;
  for (const char* f : {"bin/reader", "pages/p1.txt", "pages/p2.bin"})
    EXPECT_EQ(ReadFile(std::string("ours/") + f), ReadFile(std::string("tree/") + f)) << f;
  EXPECT_EQ(ModeOf(Path("ours/bin/reader")) & 0111, 0111u);

  auto mine = Package({Entry("p.txt", TextBytes(70000)),
                       Entry("s.bin", NoiseBytes(9000), ZipEntrySpec::Method::kStored)});
  auto test = RunCommand("/usr/bin/unzip", {"-tq", mine});
  EXPECT_EQ(test.exit_code, 0) << test.out << test.err;
}

}  // namespace

namespace {

ZipEntrySpec WithMode(ZipEntrySpec entry, unsigned mode) {
  entry.unix_mode = mode;
  return entry;
}

// In a program directory shared by a group, what one account unpacks must be
// replaceable and removable by the next: every directory writable by the
// group and keeping the set-group-ID bit, every file writable by the group,
// whatever bits the package gives its entries. Runs in a child process: the
// umask and the sharing are the process's.
TEST_F(ExtractArchiveTest, SharedProgramDirectoryKeepsUnpackedEntriesTheGroups) {
  ASSERT_EQ(::chmod(dir().c_str(), 02770), 0);
  std::string package = Package({WithMode(DirectoryEntry("content/"), 0755),
                                 WithMode(Entry("content/pages/p1.html", "<p>"), 0644),
                                 WithMode(Entry("content/reader", "#!/bin/sh\n"), 0755),
                                 WithMode(Entry("index.html", "<html>"), 0600)});
  std::string book = Path("book");
  EXPECT_EXIT(
      {
        ::umask(022);
        if (platform::ShareNewFilesInGroupDirectory(dir()) !=
            platform::NewFileAccess::kGroupWritable) {
          std::fprintf(stderr, "not shared\n");
          std::exit(2);
        }
        std::string message;
        if (ExtractArchive(package, book, message) != kExtractOk) {
          std::fprintf(stderr, "extract: %s\n", message.c_str());
          std::exit(3);
        }
        int wrong = 0;
        for (const auto& item : std::filesystem::recursive_directory_iterator(book)) {
          struct stat st {};
          ::lstat(item.path().c_str(), &st);
          bool directory = S_ISDIR(st.st_mode);
          unsigned need = directory ? (02000 | 070) : 060;
          if ((st.st_mode & need) != need || (st.st_mode & 002) != 0) {
            std::fprintf(stderr, "%s %o\n", item.path().c_str(), st.st_mode & 07777);
            ++wrong;
          }
        }
        std::exit(wrong == 0 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
