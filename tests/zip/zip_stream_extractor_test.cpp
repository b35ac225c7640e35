// Unpacking a package as it arrives: the result must be the tree that
// unpacking the complete file gives, whatever the pieces the bytes come in;
// what it cannot follow must stop it (never write something else); and a
// central directory that tells another story than the local headers must
// be caught.
#include "zip/zip_stream_extractor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "tests/support/sandbox.h"
#include "tests/zip/zip_test_support.h"
#include "zip/extract_archive.h"

namespace {

using namespace zip_testing;
namespace fs = std::filesystem;
using Check = ZipStreamExtractor::Check;

constexpr uint64_t kNoLimit = uint64_t{1} << 40;

// Relative path -> "mode mtime content" ("dir mode" for directories).
std::map<std::string, std::string> TreeOf(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
    std::string path = it->path().string();
    std::string relative = fs::relative(it->path(), root).string();
    if (it->is_directory()) {
      tree[relative] = "dir " + std::to_string(ModeOf(path));
    } else {
      tree[relative] = std::to_string(ModeOf(path)) + " " + std::to_string(ModifiedTime(path)) +
                       " " + testing_support::ReadBytes(path);
    }
  }
  return tree;
}

ZipEntrySpec WithDescriptor(ZipEntrySpec e, ZipEntrySpec::Descriptor d) {
  e.descriptor = d;
  return e;
}

ZipEntrySpec WithMode(ZipEntrySpec e, unsigned mode) {
  e.unix_mode = mode;
  return e;
}

// A book with a bit of everything the streaming has to follow.
std::vector<ZipEntrySpec> MixedBook() {
  ZipEntrySpec read_only = Entry("notes/readme.txt", "do not change");
  read_only.read_only = true;
  ZipEntrySpec utf8 = Entry("\xe7\xac\xac\xe4\xb8\x80\xe8\xaf\xbe.txt", "lesson one");
  utf8.utf8_name = true;
  return {
      DirectoryEntry("pages/"),
      Entry("pages/p1.txt", TextBytes(300000)),
      Entry("pages/p2.bin", NoiseBytes(200000), ZipEntrySpec::Method::kStored),
      WithDescriptor(Entry("pages/p3.txt", TextBytes(90000)),
                     ZipEntrySpec::Descriptor::kWithSignature),
      WithDescriptor(Entry("pages/p4.txt", TextBytes(5)), ZipEntrySpec::Descriptor::kWithoutSignature),
      Entry("empty.txt", "", ZipEntrySpec::Method::kStored),
      Entry("empty-deflated.txt", ""),
      WithMode(Entry("bin/reader", "#!/bin/sh\n"), 0755),
      WithMode(DirectoryEntry("private/"), 0700),
      read_only,
      utf8,
  };
}

class ZipStreamExtractorTest : public testing_support::Sandbox {
 protected:
  // Feeds the archive in pieces of the given size to extractors sharing
  // the work, one after the other, and finishes them; the first check that
  // is not a match.
  Check Stream(const std::string& zip, size_t piece, std::string& detail,
               uint64_t budget = kNoLimit, unsigned shares = 1) {
    WriteFile("streamed.zip", zip);
    fs::remove_all(Path("streamed"));
    fs::create_directories(Path("streamed"));
    Check result = Check::kMatches;
    for (unsigned share = 0; share < shares; ++share) {
      ZipStreamExtractor extractor(Path("streamed"), budget, share, shares);
      const auto* bytes = reinterpret_cast<const uint8_t*>(zip.data());
      for (size_t at = 0; at < zip.size(); at += piece)
        extractor.Feed(bytes + at, std::min(piece, zip.size() - at));
      Check check = extractor.Finish(Path("streamed.zip"), detail);
      if (check != Check::kMatches) return check;
    }
    return result;
  }
  std::map<std::string, std::string> Unzipped(const std::string& zip) {
    WriteFile("whole.zip", zip);
    std::string message;
    EXPECT_EQ(ExtractArchive(Path("whole.zip"), Path("whole"), message), kExtractOk) << message;
    return TreeOf(Path("whole"));
  }
};

TEST_F(ZipStreamExtractorTest, StreamedTreeEqualsTheWholeFilesInAnyPieces) {
  const std::string zip = MakeZip(MixedBook());
  const auto expected = Unzipped(zip);
  ASSERT_GT(expected.size(), 10u);
  for (unsigned shares : {1u, 2u, 3u}) {
    for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}, size_t{65536}, zip.size()}) {
      SCOPED_TRACE(std::to_string(shares) + " shares, pieces of " + std::to_string(piece));
      std::string detail;
      ASSERT_EQ(Stream(zip, piece, detail, kNoLimit, shares), Check::kMatches) << detail;
      EXPECT_EQ(TreeOf(Path("streamed")), expected);
    }
  }
}

// Each of these stops the streaming; unpacking the file then decides.
TEST_F(ZipStreamExtractorTest, WhatCannotBeFollowedStopsTheStreaming) {
  ZipStreamExtractor::Check kCannot = Check::kCannotFinish;
  ZipEntrySpec encrypted = Entry("a.txt", "secret");
  encrypted.encrypted = true;
  std::string bad_crc = MakeZip({Entry("a.txt", TextBytes(1000)), Entry("b.txt", "b")});
  PutLe(bad_crc, 14, 4, GetLe(bad_crc, 14, 4) ^ 1);
  PutLe(bad_crc, CentralHeaderOffsets(bad_crc)[0] + 16, 4, GetLe(bad_crc, 14, 4));
  const struct {
    const char* label;
    std::string zip;
    uint64_t budget;
  } kCases[] = {
      {"encrypted entry", MakeZip({encrypted}), kNoLimit},
      {"stored data with a descriptor",
       MakeZip({WithDescriptor(Entry("a.bin", "abc", ZipEntrySpec::Method::kStored),
                               ZipEntrySpec::Descriptor::kWithSignature)}),
       kNoLimit},
      {"name leading outside", MakeZip({Entry("../evil.txt", "x")}), kNoLimit},
      {"name given twice", MakeZip({Entry("a.txt", "1"), Entry("./a.txt", "2"), Entry("a.txt", "3")}),
       kNoLimit},
      {"CRC-32 that does not match", bad_crc, kNoLimit},
      {"more output than the budget", MakeZip({Entry("big.txt", TextBytes(1 << 20))}), 100000},
      {"bytes in front of the archive", MakeZip({Entry("a.txt", "a")}, "", "#!/bin/sh stub\n"),
       kNoLimit},
      {"a file cut short", MakeZip({Entry("a.txt", TextBytes(100000))}).substr(0, 3000), kNoLimit},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    std::string detail;
    EXPECT_EQ(Stream(c.zip, 1000, detail, c.budget), kCannot);
    // The share that passes over the damaged entry's data must not be the
    // only one asked: together they still refuse.
    EXPECT_EQ(Stream(c.zip, 1000, detail, c.budget, 2), kCannot);
    EXPECT_FALSE(detail.empty());
    EXPECT_FALSE(Exists("evil.txt"));
    EXPECT_LE(BytesBelow(Path("streamed")), std::min<uint64_t>(c.budget, 1 << 20));
  }
}

// The local headers are what was unpacked; the central directory is what
// the package says it holds. Any difference fails the installation.
TEST_F(ZipStreamExtractorTest, CentralDirectoryThatDisagreesIsCaught) {
  const std::string good = MakeZip({Entry("a.txt", TextBytes(5000)), Entry("b.txt", "bbb")});
  size_t directory = 0;
  std::vector<size_t> central = CentralHeaderOffsets(good, &directory);

  std::string renamed = good;  // "b.txt" in the local header, "c.txt" in the directory
  renamed[central[1] + kCentralHeaderSize] = 'c';
  std::string resized = good;
  PutLe(resized, central[0] + 24, 4, 4999);
  // An entry the directory does not list: a third local entry spliced in
  // before the central directory, every directory offset moved past it.
  std::string extra_entry = MakeZip({Entry("hidden.txt", "not listed")});
  size_t extra_directory = 0;
  CentralHeaderOffsets(extra_entry, &extra_directory);
  std::string hidden = good.substr(0, directory) + extra_entry.substr(0, extra_directory) +
                       good.substr(directory);
  PutLe(hidden, hidden.size() - kEndRecordSize + 16, 4,
        static_cast<uint32_t>(directory + extra_directory));
  const struct {
    const char* label;
    std::string zip;
  } kCases[] = {{"another name", renamed}, {"another size", resized}, {"an entry not listed", hidden}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    std::string detail;
    EXPECT_EQ(Stream(c.zip, 333, detail), Check::kDisagrees);
    EXPECT_FALSE(detail.empty());
  }
}

TEST_F(ZipStreamExtractorTest, EmptyArchiveMatches) {
  std::string detail;
  EXPECT_EQ(Stream(MakeZip({}), 5, detail), Check::kMatches) << detail;
  EXPECT_TRUE(TreeOf(Path("streamed")).empty());
}

}  // namespace
