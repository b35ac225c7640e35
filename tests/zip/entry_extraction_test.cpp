// Entries extracted in archive order and by several threads at once.
#include "zip/entry_extraction.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "tests/support/sandbox.h"
#include "tests/zip/zip_test_support.h"
#include "zip/extract_archive.h"
#include "zip/zip_archive.h"
#include "zip/zip_exception.h"

namespace {

using namespace zip_testing;
using Method = ZipEntrySpec::Method;

// A book-like package: folders with their own modes (one that must wait for
// the end, as it takes away the owner's write bit), files of many sizes,
// stored and deflated, some with data descriptors, with modes and times of
// their own, spread over the folders in an order that jumps between them.
std::vector<ZipEntrySpec> ManyEntries(size_t files) {
  std::vector<ZipEntrySpec> entries;
  for (int u = 0; u < 6; ++u) {
    ZipEntrySpec folder = DirectoryEntry("unit" + std::to_string(u) + "/");
    folder.unix_mode = u == 3 ? 0555 : 0750;
    entries.push_back(folder);
  }
  for (size_t i = 0; i < files; ++i) {
    const std::string folder =
        "unit" + std::to_string(i % 6) + "/lesson" + std::to_string(i % 4) + "/";
    const size_t size = 1 + (i * 7919) % 40000;
    ZipEntrySpec e = i % 3 == 0
                         ? Entry(folder + "page" + std::to_string(i) + ".html", TextBytes(size))
                         : Entry(folder + "image" + std::to_string(i) + ".png",
                                 NoiseBytes(size, static_cast<uint32_t>(i)),
                                 i % 2 ? Method::kStored : Method::kDeflated);
    e.unix_mode = i % 5 == 0 ? 0755 : 0644;
    if (i % 7 == 0) e.descriptor = ZipEntrySpec::Descriptor::kWithSignature;
    e.modified = MakeDosDateTime(2021, 1 + static_cast<int>(i % 12), 1 + static_cast<int>(i % 28),
                                 static_cast<int>(i % 24), 0, 0);
    entries.push_back(e);
  }
  return entries;
}

class EntryExtractionTest : public testing_support::Sandbox {
 protected:
  // Everything below a directory a reader could tell apart: each path with
  // its type, permission bits, modification time and content.
  std::map<std::string, std::string> Tree(const std::string& relative) {
    std::map<std::string, std::string> tree;
    const std::filesystem::path root = Path(relative);
    for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
      const std::string path = item.path().string();
      const std::string name = std::filesystem::relative(item.path(), root).string();
      std::ostringstream what;
      what << std::oct << ModeOf(path);
      if (item.is_directory()) {
        tree[name] = "dir " + what.str();
      } else {
        what << " " << std::dec << ModifiedTime(path);
        tree[name] = "file " + what.str() + " " + ReadFile(relative + "/" + name);
      }
    }
    return tree;
  }

  // Gives back the owner's bits that a folder entry took away, so that the
  // folder can be removed again.
  void Unlock(const std::string& relative) {
    std::error_code ignored;
    std::filesystem::permissions(Path(relative), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  }

  void Open(CZipArchive& zip, const std::vector<ZipEntrySpec>& entries) {
    WriteFile("book.zip", MakeZip(entries));
    zip.Open(Path("book.zip"));
  }
};

TEST_F(EntryExtractionTest, InParallelTheTreeIsTheOneOfTheArchiveOrder) {
  const std::vector<ZipEntrySpec> entries = ManyEntries(400);
  CZipArchive serial;
  Open(serial, entries);
  ASSERT_TRUE(EntriesIndependent(serial));
  std::filesystem::create_directory(Path("serial"));
  EntryFailure in_order = ExtractEntriesInOrder(serial, Path("serial"));
  serial.Close();
  ASSERT_FALSE(in_order.failed()) << in_order.index << ": " << in_order.message;
  const auto expected = Tree("serial");
  ASSERT_GT(expected.size(), 400u + 6u);
  EXPECT_EQ(ModeOf(Path("serial/unit3")), 0555u);

  for (size_t threads : {2, 3}) {
    SCOPED_TRACE(threads);
    std::filesystem::remove_all(Path("parallel"));
    std::filesystem::create_directory(Path("parallel"));
    CZipArchive zip;
    zip.Open(Path("book.zip"));
    EntryFailure failure = ExtractEntriesInParallel(zip, Path("parallel"), threads);
    zip.Close();  // the deferred folder modes
    ASSERT_FALSE(failure.failed()) << failure.index << ": " << failure.message;
    EXPECT_TRUE(Tree("parallel") == expected);
    Unlock("parallel/unit3");
  }
  Unlock("serial/unit3");
}

// Whether the order of writing could matter, for names as packages have them.
TEST_F(EntryExtractionTest, EntriesAreIndependentUnlessTheirPathsMeet) {
  const struct {
    const char* what;
    std::vector<const char*> names;  // a trailing "/" makes a folder entry
    bool independent;
  } kCases[] = {
      {"files in folders", {"a/b.txt", "a/c.txt", "d/", "d/e/f.txt", "g.txt"}, true},
      {"a folder listed twice", {"d/", "d/", "d/f.txt"}, true},
      {"a refused name takes no place", {"../x.txt", "x.txt", "/abs/y.txt", "abs/z.txt"}, true},
      {"one file twice", {"a/b.txt", "c.txt", "a/b.txt"}, false},
      {"a file where a folder is needed", {"a", "a/b.txt"}, false},
      {"a file after its folder's entries", {"a/b/c.txt", "a/b"}, false},
      {"a folder entry of a file's name", {"a/", "a"}, false},
      {"letters differing in case only", {"Pages/p.txt", "pages/p.txt"}, false},
      {"the same path written two ways", {"p//q.txt", "p/q.txt"}, false},
      {"a leading separator", {"/p/q.txt", "p/q.txt"}, false},
      {"a dot component", {"p/./q.txt", "r.txt"}, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    std::vector<ZipEntrySpec> entries;
    for (const char* name : c.names) {
      std::string n = name;
      entries.push_back(n.back() == '/' ? DirectoryEntry(n) : Entry(n, "x"));
    }
    CZipArchive zip;
    Open(zip, entries);
    EXPECT_EQ(EntriesIndependent(zip), c.independent);
  }
}

// The failing entry of the lowest index is the one reported, whichever
// thread met it and whenever; every entry before it is on disk.
TEST_F(EntryExtractionTest, TheFirstFailureInArchiveOrderIsReported) {
  const struct {
    const char* what;
    std::set<size_t> unsafe;   // names that lead outside: ExtractEntry says no
    std::set<size_t> damaged;  // data that fails its CRC: ExtractEntry raises
    size_t first;
    bool raises;
  } kCases[] = {
      {"one unsafe name in the middle", {150}, {}, 150, false},
      {"two unsafe names", {260, 90}, {}, 90, false},
      {"damaged data before an unsafe name", {200}, {120}, 120, true},
      {"an unsafe name before damaged data", {120}, {200}, 120, false},
      {"damaged data only, near the end", {}, {395}, 395, true},
      {"a folder entry is among the first", {3}, {}, 3, false},
      // The next entry fails at once, while the damaged one is still being
      // written on the other thread: the lower index wins all the same.
      {"damaged data just before a quick failure", {151}, {150}, 150, true},
      {"a quick failure just before damaged data", {150}, {151}, 150, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    std::vector<ZipEntrySpec> entries = ManyEntries(400);
    for (size_t i : c.unsafe) entries[i].name = "../escape" + std::to_string(i) + ".txt";
    for (size_t i : c.damaged) {
      // Large, so that the other thread goes on meanwhile.
      entries[i].data = NoiseBytes(size_t{3} << 20);
      entries[i].method = Method::kStored;
      entries[i].descriptor = ZipEntrySpec::Descriptor::kNone;
    }
    std::ostringstream out;
    ZipWriter writer(out);
    for (const auto& e : entries) writer.Add(e);
    writer.Finish();
    std::string bytes = out.str();
    for (size_t i : c.damaged) bytes[writer.placements()[i].data_offset] ^= 0x20;
    WriteFile("book.zip", bytes);

    for (int run = 0; run < 4; ++run) {
      std::filesystem::remove_all(Path("book"));
      std::filesystem::create_directory(Path("book"));
      CZipArchive zip;
      zip.Open(Path("book.zip"));
      EntryFailure failure = ExtractEntriesInParallel(zip, Path("book"), 2);
      zip.Close();
      ASSERT_EQ(failure.index, c.first) << "run " << run;
      EXPECT_EQ(failure.error != nullptr, c.raises);
      if (c.raises) {
        EXPECT_THROW(std::rethrow_exception(failure.error), CZipException);
      } else {
        EXPECT_EQ(failure.message, entries[c.first].name + kEntryUnsafeNameTail);
      }
      for (size_t i = 6; i < c.first; ++i) {
        ASSERT_TRUE(Exists("book/" + entries[i].name)) << entries[i].name;
      }
      Unlock("book/unit3");
      EXPECT_FALSE(std::filesystem::exists(Path("escape" + std::to_string(c.first) + ".txt")));
    }
  }
}

// What the installation sees: the codes, message and counts of the archive
// order, for a package large enough to be unpacked in parallel.
TEST_F(EntryExtractionTest, ExtractArchiveReportsAsInArchiveOrder) {
  std::vector<ZipEntrySpec> entries = ManyEntries(300);
  WriteFile("book.zip", MakeZip(entries));
  uint64_t declared = 0;
  ASSERT_TRUE(ReadDeclaredSize(Path("book.zip"), declared));
  ASSERT_GT(declared, 1u << 20);  // large enough for threads
  std::string message;
  ExtractReport report;
  ASSERT_EQ(ExtractArchive(Path("book.zip"), Path("book"), message, &report), kExtractOk)
      << message;
  EXPECT_EQ(report.entries_total, 306u);
  EXPECT_EQ(report.entries_written, 306u);
  EXPECT_EQ(ModeOf(Path("book/unit3")), 0555u);
  EXPECT_EQ(BytesBelow(Path("book")), declared);

  entries[170].name = "../escape.txt";
  WriteFile("book.zip", MakeZip(entries));
  ASSERT_EQ(ExtractArchive(Path("book.zip"), Path("book"), message, &report), kExtractEntryFailed);
  EXPECT_EQ(message, std::string("../escape.txt") + kEntryUnsafeNameTail);
  EXPECT_EQ(report.entries_written, 170u);
  EXPECT_EQ(report.detail.rfind("entry 171 of 306 (../escape.txt) was not extracted", 0), 0u)
      << report.detail;
  EXPECT_FALSE(std::filesystem::exists(Path("escape.txt")));
  Unlock("book/unit3");
}

}  // namespace
