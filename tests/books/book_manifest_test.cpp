// Book manifests on real packages and real directories: made from a
// package, written and read back, hostile files refused, and an installed
// tree checked against its manifest after each kind of damage.
#include "books/book_manifest.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "tests/support/sandbox.h"
#include "tests/zip/zip_test_support.h"
#include "zip/extract_archive.h"

namespace {

using namespace zip_testing;
namespace fs = std::filesystem;

using Names = std::vector<std::string>;

std::string ManifestOf(const std::string& header, const std::vector<std::string>& lines) {
  std::string text = header;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// A book as the installation leaves it: the package unpacked into
// book/, its manifest beside it as book.manifest.
class InstalledBookTest : public testing_support::Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    book_ = Path("book");
    manifest_ = ManifestPathFor(book_);
    ZipEntrySpec reader = Entry("bin/reader", "#!/bin/sh\necho reading\n");
    reader.unix_mode = 0755;
    WriteFile("book.zip",
              MakeZip({
                  Entry("index.html", "<html>page one</html>"),
                  DirectoryEntry("pages/"),
                  Entry("pages/p1.html", TextBytes(200000)),
                  Entry("media/noise.bin", NoiseBytes(70000), ZipEntrySpec::Method::kStored),
                  DirectoryEntry("empty/"),
                  reader,
              }));
    std::string error;
    ASSERT_EQ(ExtractArchive(Path("book.zip"), book_, error), kExtractOk) << error;
    ASSERT_TRUE(ManifestFromArchive(Path("book.zip"), entries_, error)) << error;
    ASSERT_TRUE(WriteBookManifest(manifest_, "pkg-1", entries_));
  }

  BookCheck Check(CheckDepth depth) { return CheckInstalledBook(book_, manifest_, depth); }

  std::string book_, manifest_;
  std::vector<ManifestEntry> entries_;
};

TEST_F(InstalledBookTest, TheManifestListsWhatThePackageUnpacks) {
  ASSERT_EQ(entries_.size(), 6u);
  EXPECT_EQ(entries_[0].path, "index.html");
  EXPECT_EQ(entries_[0].size, 21u);
  EXPECT_EQ(entries_[0].crc32,
            crc32(0, reinterpret_cast<const Bytef*>("<html>page one</html>"), 21));
  EXPECT_TRUE(entries_[1].directory);
  EXPECT_EQ(entries_[1].path, "pages");  // without its trailing "/"
  EXPECT_EQ(entries_[3].path, "media/noise.bin");
  EXPECT_EQ(entries_[3].size, 70000u);

  std::string package_id;
  std::vector<ManifestEntry> read;
  ASSERT_TRUE(ReadBookManifest(manifest_, package_id, read));
  EXPECT_EQ(package_id, "pkg-1");
  ASSERT_EQ(read.size(), entries_.size());
  for (size_t i = 0; i < read.size(); ++i) {
    EXPECT_EQ(read[i].path, entries_[i].path);
    EXPECT_EQ(read[i].size, entries_[i].size);
    EXPECT_EQ(read[i].crc32, entries_[i].crc32);
    EXPECT_EQ(read[i].directory, entries_[i].directory);
  }
  // Beside the book, never inside it.
  EXPECT_EQ(manifest_, book_ + ".manifest");
  EXPECT_FALSE(Exists("book/book.manifest"));

  for (CheckDepth depth : {CheckDepth::kSizesOnly, CheckDepth::kFull}) {
    BookCheck check = Check(depth);
    EXPECT_TRUE(check.Intact()) << check.ProblemCount();
  }
}

TEST_F(InstalledBookTest, EachKindOfDamageIsFoundByTheChecksThatCanSeeIt) {
  struct Case {
    const char* name;
    std::function<void()> damage;
    Names missing, changed, extra;  // what the full check finds
    bool sizes_see_it;              // the check by sizes finds the same but extra files
  };
  const std::string outside = Path("outside");
  const Case cases[] = {
      {"a file deleted",
       [&] { fs::remove(Path("book/pages/p1.html")); },
       {"pages/p1.html"},
       {},
       {},
       true},
      {"same size, other bytes",
       [&] {
         std::string data = ReadFile("book/media/noise.bin");
         data[35000] ^= 0x20;
         WriteFile("book/media/noise.bin", data);
       },
       {},
       {"media/noise.bin"},
       {},
       false},
      {"another size",
       [&] { WriteFile("book/index.html", "<html>"); },
       {},
       {"index.html"},
       {},
       true},
      {"a file added",
       [&] { WriteFile("book/pages/notes.txt", "mine"); },
       {},
       {},
       {"pages/notes.txt"},
       false},
      {"an empty directory removed",
       [&] { fs::remove(Path("book/empty")); },
       {"empty"},
       {},
       {},
       true},
      {"a directory where a file was",
       [&] {
         fs::remove(Path("book/index.html"));
         fs::create_directory(Path("book/index.html"));
       },
       {},
       {"index.html"},
       {},
       true},
      {"a file where a directory was",
       [&] {
         fs::remove(Path("book/empty"));
         WriteFile("book/empty", "");
       },
       {},
       {"empty"},
       {},
       true},
      // Same content behind the link, still not what the package made.
      {"a file replaced by a link",
       [&] {
         WriteFile("outside/index.html", "<html>page one</html>");
         fs::remove(Path("book/index.html"));
         fs::create_symlink(outside + "/index.html", Path("book/index.html"));
       },
       {},
       {"index.html"},
       {},
       true},
      // A copy of the folder elsewhere, reached through a link: nothing
      // in it is taken for the book's, nothing there is listed.
      {"a directory replaced by a link",
       [&] {
         fs::create_directories(outside);
         fs::copy(Path("book/pages"), outside + "/pages", fs::copy_options::recursive);
         fs::remove_all(Path("book/pages"));
         fs::create_directory_symlink(outside + "/pages", Path("book/pages"));
       },
       {},
       {"pages", "pages/p1.html"},
       {},
       true},
      {"a link added",
       [&] { fs::create_directory_symlink("/etc", Path("book/etc")); },
       {},
       {},
       {"etc"},
       false},
      // A reader of the file would wait for a writer that never comes.
      {"a pipe instead of a file",
       [&] {
         fs::remove(Path("book/index.html"));
         ASSERT_EQ(mkfifo(Path("book/index.html").c_str(), 0644), 0);
       },
       {},
       {"index.html"},
       {},
       true},
      {"the whole book gone",
       [&] { fs::remove_all(book_); },
       {"index.html", "pages", "pages/p1.html", "media/noise.bin", "empty", "bin/reader"},
       {},
       {},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    fs::remove_all(outside);
    ASSERT_EQ(ExtractArchive(Path("book.zip"), book_, error), kExtractOk) << error;
    c.damage();

    BookCheck full = Check(CheckDepth::kFull);
    EXPECT_TRUE(full.manifest_ok);
    EXPECT_EQ(full.missing, c.missing);
    EXPECT_EQ(full.changed, c.changed);
    EXPECT_EQ(full.extra, c.extra);
    EXPECT_FALSE(full.Intact());

    BookCheck sizes = Check(CheckDepth::kSizesOnly);
    EXPECT_TRUE(sizes.manifest_ok);
    EXPECT_TRUE(sizes.extra.empty());
    if (c.sizes_see_it) {
      EXPECT_EQ(sizes.missing, c.missing);
      EXPECT_EQ(sizes.changed, c.changed);
    } else {
      EXPECT_TRUE(sizes.Intact());
    }
  }
}

TEST_F(InstalledBookTest, WithoutAUsableManifestNothingIsChecked) {
  const struct {
    const char* name;
    std::function<void()> arrange;
  } cases[] = {
      {"missing", [&] { fs::remove(manifest_); }},
      {"truncated",
       [&] {
         std::string text = ReadFile("book.manifest");
         WriteFile("book.manifest", text.substr(0, text.size() / 2));
       }},
      {"a directory",
       [&] {
         fs::remove(manifest_);
         fs::create_directory(manifest_);
       }},
  };
  fs::remove_all(Path("book/pages"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.arrange();
    BookCheck check = Check(CheckDepth::kFull);
    EXPECT_FALSE(check.manifest_ok);
    EXPECT_FALSE(check.Intact());
    EXPECT_EQ(check.ProblemCount(), 0u);
    fs::remove_all(manifest_);
    ASSERT_TRUE(WriteBookManifest(manifest_, "pkg-1", entries_));
  }
}

// A manifest lives in a folder the user can write: a name in it must never
// make the check look outside the book.
TEST_F(InstalledBookTest, NamesLeadingOutOfTheBookAreNeverLookedAt) {
  WriteFile("secret", "<html>page one</html>");  // beside the book, as ../secret
  const char* const names[] = {"../secret", "pages/../../secret", "/etc/passwd", "./index.html"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    WriteFile("book.manifest", ManifestOf("tomerack-book-manifest 1 pkg-1\n",
                                          {"f 21 00000000 " + std::string(name), "end 1"}));
    EXPECT_FALSE(Check(CheckDepth::kFull).manifest_ok);

    // Entries made by a caller are not looked at either.
    BookCheck check = CheckBookAgainst(book_, {{name, 21, 0, false}}, CheckDepth::kFull);
    EXPECT_EQ(check.changed, Names{name});
    EXPECT_TRUE(check.missing.empty());
  }
}

TEST(ManifestText, RoundTripsAnyNameOnOneLinePerEntry) {
  const std::vector<ManifestEntry> entries = {
      {"plain.txt", 5, 0xdeadbeef, false},
      {"line\nbreak", 0, 0, false},
      {"tab\there\rand\\back\\slash", 1, 1, false},
      {"controls\x01\x1f\x7f", 2, 2, false},
      {"教材/第一章 封面.png", 4294967296ull, 0x00ff00ffu, false},  // GBK bytes, a space
      {"\x95\x5c trail byte", 3, 3, false},  // a GBK character whose trail byte is "\"
      {"dir with space", 0, 0, true},
  };
  const std::string package_id = "id with \\ and\nbreak";
  std::string text = ManifestText(package_id, entries);
  // One line per entry, a first and a last line.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), static_cast<long>(entries.size() + 2));
  EXPECT_EQ(text.rfind("tomerack-book-manifest 1 ", 0), 0u);
  EXPECT_NE(text.find("\nf 5 deadbeef plain.txt\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nd dir with space\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nf 0 00000000 line\\nbreak\n"), std::string::npos) << text;
  EXPECT_NE(text.find("controls\\x01\\x1f\\x7f\n"), std::string::npos) << text;

  std::string id;
  std::vector<ManifestEntry> read;
  ASSERT_TRUE(ParseManifestText(text, id, read));
  EXPECT_EQ(id, package_id);
  ASSERT_EQ(read.size(), entries.size());
  for (size_t i = 0; i < read.size(); ++i) {
    EXPECT_EQ(read[i].path, entries[i].path);
    EXPECT_EQ(read[i].size, entries[i].size);
    EXPECT_EQ(read[i].crc32, entries[i].crc32);
    EXPECT_EQ(read[i].directory, entries[i].directory);
  }
  EXPECT_EQ(ManifestText(id, read), text);
}

TEST(ManifestText, MalformedAndHostileTextsAreRefused) {
  const std::string head = "tomerack-book-manifest 1 p\n";
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"no end line", head + "f 1 00000000 a\n"},
      {"cut inside a line", head + "f 1 00000000 a\nend 1"},
      {"end count too small", head + "f 1 00000000 a\nf 1 00000000 b\nend 1\n"},
      {"huge end count", head + "end 99999999999999999999999\n"},
      {"end count beyond 64 bits", head + "end 18446744073709551616\n"},
      {"something after the end", head + "end 0\nf 1 00000000 a\n"},
      {"another format", "tomerack-book-manifest 2 p\nend 0\n"},
      {"no header", "f 1 00000000 a\nend 1\n"},
      {"size beyond 64 bits", head + "f 18446744073709551616 00000000 a\nend 1\n"},
      {"size with a sign", head + "f -1 00000000 a\nend 1\n"},
      {"size with leading zero", head + "f 01 00000000 a\nend 1\n"},
      {"short crc", head + "f 1 0000000 a\nend 1\n"},
      {"upper-case crc", head + "f 1 DEADBEEF a\nend 1\n"},
      {"unknown kind", head + "x a\nend 1\n"},
      {"parent", head + "d ..\nend 1\n"},
      {"climbing", head + "f 1 00000000 a/../../b\nend 1\n"},
      {"absolute", head + "f 1 00000000 /etc/passwd\nend 1\n"},
      {"empty part", head + "f 1 00000000 a//b\nend 1\n"},
      {"trailing slash", head + "d a/\nend 1\n"},
      {"dot", head + "f 1 00000000 ./a\nend 1\n"},
      {"empty name", head + "f 1 00000000 \nend 1\n"},
      {"zero byte", head + "f 1 00000000 a\\x00b\nend 1\n"},
      {"unknown escape", head + "f 1 00000000 a\\qb\nend 1\n"},
      {"short hex escape", head + "f 1 00000000 a\\x4\nend 1\n"},
      {"needless hex escape", head + "f 1 00000000 a\\x41\nend 1\n"},
      {"raw control byte", head + "f 1 00000000 a\x01z\nend 1\n"},
      {"carriage return line ends", "tomerack-book-manifest 1 p\r\nend 0\r\n"},
      {"listed twice", head + "f 1 00000000 a\nd a\nend 2\n"},
      {"name too long", head + "d " + std::string(kMaxManifestPathBytes + 1, 'a') + "\nend 1\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string id = "stale";
    std::vector<ManifestEntry> entries = {{"stale", 1, 1, false}};
    EXPECT_FALSE(ParseManifestText(c.text, id, entries));
    EXPECT_EQ(id, "");
    EXPECT_TRUE(entries.empty());
  }
}

TEST(ManifestText, TooManyEntriesAreRefused) {
  std::string text = "tomerack-book-manifest 1 p\n";
  for (size_t i = 0; i <= kMaxManifestEntries; ++i) text += "d " + std::to_string(i) + "\n";
  text += "end " + std::to_string(kMaxManifestEntries + 1) + "\n";
  std::string id;
  std::vector<ManifestEntry> entries;
  EXPECT_FALSE(ParseManifestText(text, id, entries));
  EXPECT_TRUE(entries.empty());
}

class ManifestFileTest : public testing_support::Sandbox {};

TEST_F(ManifestFileTest, OversizedFilesAreRefused) {
  // Sparse: the limit is met by the size, not by what a test writes.
  {
    std::string path = Path("big.manifest");
    WriteFile("big.manifest", "tomerack-book-manifest 1 p\nend 0\n");
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(kMaxManifestBytes + 1)), 0);
  }
  std::string id;
  std::vector<ManifestEntry> entries;
  EXPECT_FALSE(ReadBookManifest(Path("big.manifest"), id, entries));
  EXPECT_FALSE(ReadBookManifest(Path("missing.manifest"), id, entries));
}

TEST_F(ManifestFileTest, WritingReplacesTheFileInOneStepAndRefusesBadEntries) {
  std::string path = Path("book.manifest");
  ASSERT_TRUE(WriteBookManifest(path, "one", {{"a", 1, 1, false}}));
  ASSERT_TRUE(WriteBookManifest(path, "two", {{"b", 2, 2, false}}));
  std::string id;
  std::vector<ManifestEntry> entries;
  ASSERT_TRUE(ReadBookManifest(path, id, entries));
  EXPECT_EQ(id, "two");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].path, "b");

  const std::vector<ManifestEntry> refused[] = {
      {{"../a", 1, 1, false}},
      {{"/a", 1, 1, false}},
      {{"a", 1, 1, false}, {"a", 2, 2, true}},
      {{std::string("a\0b", 3), 1, 1, false}},
  };
  for (const auto& bad : refused) {
    EXPECT_FALSE(WriteBookManifest(path, "three", bad)) << bad[0].path;
  }
  ASSERT_TRUE(ReadBookManifest(path, id, entries));
  EXPECT_EQ(id, "two");
  // No temporary file is left beside it.
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir())) files += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 1u);
}

// A write killed before its rename leaves its temporary file; the next
// start removes it, but never one of a write still under way.
TEST_F(ManifestFileTest, WritesOfKilledProcessesAreCleanedUp) {
  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  std::string killed = "book.manifest.tmp" + std::to_string(child) + "-0";
  std::string running = "book.manifest.tmp" + std::to_string(getpid()) + "-0";
  WriteFile(killed, "half");
  WriteFile(running, "half");
  WriteFile("book/page.html", "page");

  RemoveAbandonedManifestWrites(Path("book"));
  EXPECT_FALSE(Exists(killed));
  EXPECT_TRUE(Exists(running));
  EXPECT_TRUE(Exists("book/page.html"));
}

TEST_F(ManifestFileTest, NamesAreTakenAsTheInstallationWritesThem) {
  ZipEntrySpec utf8 = Entry("\xe6\x95\x99\xe6\x9d\x90.txt", "utf8 name");  // "教材.txt" in UTF-8
  utf8.utf8_name = true;
  WriteFile("p.zip", MakeZip({
                         Entry("/lead/slash.txt", "x"),
                         Entry("win\\sep.txt", "y"),
                         Entry("double//slash.txt", "z"),
                         Entry("again.txt", "first"),
                         utf8,
                         Entry("again.txt", "second, longer"),
                     }));
  std::vector<ManifestEntry> entries;
  std::string error;
  ASSERT_TRUE(ManifestFromArchive(Path("p.zip"), entries, error)) << error;
  Names paths;
  for (const ManifestEntry& e : entries) paths.push_back(e.path);
  EXPECT_EQ(paths,
            (Names{"lead/slash.txt", "win/sep.txt", "double/slash.txt", "again.txt", "教材.txt"}));
  EXPECT_EQ(entries[3].size, 14u);  // the later entry, which overwrites the first on disk

  // Unpacked for real, the tree is exactly what the manifest says.
  ASSERT_EQ(ExtractArchive(Path("p.zip"), Path("book"), error), kExtractOk) << error;
  BookCheck check = CheckBookAgainst(Path("book"), entries, CheckDepth::kFull);
  EXPECT_TRUE(check.Intact()) << check.ProblemCount();
}

TEST_F(ManifestFileTest, PackagesTheInstallationWouldRefuseMakeNoManifest) {
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"climbing name", MakeZip({Entry("a.txt", "a"), Entry("../evil.txt", "e")})},
      {"dot part", MakeZip({Entry("a/./b.txt", "b")})},
      {"not a package", "this is no zip archive"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile("bad.zip", c.bytes);
    std::vector<ManifestEntry> entries;
    std::string error;
    EXPECT_FALSE(ManifestFromArchive(Path("bad.zip"), entries, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(entries.empty());
  }
  std::vector<ManifestEntry> entries;
  std::string error;
  EXPECT_FALSE(ManifestFromArchive(Path("missing.zip"), entries, error));
}

}  // namespace
