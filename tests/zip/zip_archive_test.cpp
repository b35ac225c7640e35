// The reader on a corpus of archives made here, some patched after writing.
#include "zip/zip_archive.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "platform/output_file.h"
#include "tests/support/sandbox.h"
#include "tests/zip/zip_test_support.h"
#include "zip/zip_dos_time.h"
#include "zip/zip_exception.h"

namespace {

using namespace zip_testing;
using Method = ZipEntrySpec::Method;

class ZipArchiveTest : public testing_support::Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    std::filesystem::create_directories(Path("out"));
  }
  std::string Store(const std::string& bytes, const std::string& name = "a.zip") {
    WriteFile(name, bytes);
    return Path(name);
  }
  // Opens the archive and extracts every entry; false at the first entry
  // that fails.
  bool ExtractAll(const std::string& bytes, std::string& message) {
    CZipArchive zip;
    zip.Open(Store(bytes));
    for (size_t i = 0; i < zip.GetCount(); ++i)
      if (!zip.ExtractEntry(i, Path("out"), message)) return false;
    zip.Close();
    return true;
  }
  // The error number of the CZipException that fn raises, or 0.
  template <typename Fn>
  static int ZipErrorOf(Fn fn) {
    try {
      fn();
    } catch (const CZipException& e) {
      EXPECT_TRUE(e.GetDescription().empty());
      return e.error_number();
    }
    return 0;
  }
};

TEST_F(ZipArchiveTest, StoredAndDeflatedTwinsExtractToTheSameBytesAndTime) {
  // Larger than both the 16384-byte read buffer and the 65535-byte block.
  const std::string data = TextBytes(300000) + NoiseBytes(70000);
  auto stored = Entry("stored.bin", data, Method::kStored);
  auto deflated = Entry("deflated.bin", data, Method::kDeflated);
  stored.modified = deflated.modified = MakeDosDateTime(2019, 9, 1, 8, 30, 44);
  std::string message;
  ASSERT_TRUE(ExtractAll(MakeZip({stored, deflated}), message)) << message;
  EXPECT_EQ(ReadFile("out/stored.bin"), data);
  EXPECT_EQ(ReadFile("out/deflated.bin"), data);
  int64_t expected = platform::LocalTimeToUnix(2019, 9, 1, 8, 30, 44);
  EXPECT_EQ(ModifiedTime(Path("out/stored.bin")), expected);
  EXPECT_EQ(ModifiedTime(Path("out/deflated.bin")), expected);
}

TEST_F(ZipArchiveTest, OpensWithLongestCommentAndWithPrefixedStub) {
  const std::string comment = NoiseBytes(65535, 3);
  const std::string stub = "#!/bin/sh\necho self-extracting stub\nexit 0\n" + NoiseBytes(40000, 9);
  const struct {
    const char* label;
    std::string bytes;
    uint64_t before;
  } kCases[] = {
      {"65535-byte comment", MakeZip({Entry("x/y.txt", "payload")}, comment), 0},
      {"prefixed stub", MakeZip({Entry("x/y.txt", "payload")}, "", stub), stub.size()},
      {"both", MakeZip({Entry("x/y.txt", "payload")}, comment, stub), stub.size()},
  };
  for (const auto& c : kCases) {
    CZipArchive zip;
    zip.Open(Store(c.bytes));
    ASSERT_EQ(zip.GetCount(), 1u) << c.label;
    EXPECT_EQ(zip.GetBytesBeforeZip(), c.before) << c.label;
    std::string message;
    ASSERT_TRUE(zip.ExtractEntry(0, Path("out"), message)) << c.label << message;
    EXPECT_EQ(ReadFile("out/x/y.txt"), "payload") << c.label;
    std::filesystem::remove_all(Path("out/x"));
  }
}

TEST_F(ZipArchiveTest, DataDescriptorsAreReadAndChecked) {
  for (auto kind :
       {ZipEntrySpec::Descriptor::kWithSignature, ZipEntrySpec::Descriptor::kWithoutSignature}) {
    for (auto method : {Method::kStored, Method::kDeflated}) {
      auto e = Entry("d.txt", TextBytes(100000), method);
      e.descriptor = kind;
      std::string bytes = MakeZip({e, Entry("next.txt", "after")});
      std::string message;
      ASSERT_TRUE(ExtractAll(bytes, message)) << message;
      EXPECT_EQ(ReadFile("out/d.txt"), e.data);
      EXPECT_EQ(ReadFile("out/next.txt"), "after");

      // A descriptor whose CRC differs from the directory's is damage.
      std::ostringstream out;
      ZipWriter writer(out);
      writer.Add(e);
      writer.Finish();
      std::string patched = out.str();
      const auto& p = writer.placements()[0];
      size_t crc_at = p.data_offset + p.compressed_size +
                      (kind == ZipEntrySpec::Descriptor::kWithSignature ? 4 : 0);
      patched[crc_at] ^= 0x55;
      EXPECT_EQ(ZipErrorOf([&] { ExtractAll(patched, message); }), kZipBadArchive);
    }
  }
}

TEST_F(ZipArchiveTest, DirectoryEntriesCreateDirectoriesOnly) {
  auto by_name = DirectoryEntry("named/");
  by_name.directory = false;  // only the trailing slash says it
  std::string message;
  ASSERT_TRUE(ExtractAll(MakeZip({DirectoryEntry("empty"), by_name, DirectoryEntry("a/b/c/"),
                                  Entry("a/b/c.txt", "c")}),
                         message))
      << message;
  EXPECT_TRUE(std::filesystem::is_directory(Path("out/empty")));
  EXPECT_TRUE(std::filesystem::is_empty(Path("out/empty")));
  EXPECT_TRUE(std::filesystem::is_directory(Path("out/named")));
  EXPECT_TRUE(std::filesystem::is_directory(Path("out/a/b/c")));
  EXPECT_EQ(ReadFile("out/a/b/c.txt"), "c");
}

TEST_F(ZipArchiveTest, AlteredCrcRaisesAfterTheBytesAreWritten) {
  std::ostringstream out;
  ZipWriter writer(out);
  writer.Add(Entry("page.txt", TextBytes(5000), Method::kStored));
  writer.Finish();
  std::string bytes = out.str();
  bytes[writer.placements()[0].data_offset + 10] ^= 0x01;  // data no longer matches its CRC
  std::string message;
  EXPECT_EQ(ZipErrorOf([&] { ExtractAll(bytes, message); }), kZipBadCrc);
  EXPECT_EQ(ReadFile("out/page.txt").size(), 5000u);
  EXPECT_EQ(CZipException::CauseOf(kZipBadCrc), kZipCauseBadCrc);
}

TEST_F(ZipArchiveTest, BadArchivesRaiseTheirCause) {
  std::string good = MakeZip({Entry("a.txt", TextBytes(3000))});
  std::string cut_record = good.substr(0, good.size() - 10);
  std::string cut_before_record = good.substr(0, good.size() - 30);
  std::string local_method = good;
  local_method[8] = 0;  // local header says stored, directory says deflated
  std::string second_disk = good;
  second_disk[good.size() - 22 + 4] = 1;
  std::string offset_past_end = good;
  offset_past_end[good.size() - 22 + 16] = static_cast<char>(0xff);
  const struct {
    const char* label;
    std::string bytes;
    int error;
    int cause;
  } kCases[] = {
      {"end record cut short", cut_record, kZipBadArchive, kZipCauseBadArchive},
      {"truncated before the end record", cut_before_record, kZipNoEndRecord, kZipCauseNoEndRecord},
      {"not an archive", NoiseBytes(100000), kZipNoEndRecord, kZipCauseNoEndRecord},
      {"empty file", "", kZipNoEndRecord, kZipCauseNoEndRecord},
      {"local header differs", local_method, kZipBadArchive, kZipCauseBadArchive},
      {"second volume", second_disk, kZipBadArchive, kZipCauseBadArchive},
      {"directory past the end record", offset_past_end, kZipBadArchive, kZipCauseBadArchive},
  };
  for (const auto& c : kCases) {
    std::string message;
    EXPECT_EQ(ZipErrorOf([&] { ExtractAll(c.bytes, message); }), c.error) << c.label;
    EXPECT_EQ(CZipException::CauseOf(c.error), c.cause) << c.label;
  }
}

// Overlapping entries make one stretch of the file expand many times (the
// classic zip bomb). Each archive here extracted cleanly before, CRCs
// included; now it is refused before any of its bytes are written.
TEST_F(ZipArchiveTest, OverlappingEntriesAreRefusedBeforeAnythingIsWritten) {
  const std::string page = TextBytes(200000);
  auto written = [](std::vector<ZipEntrySpec> entries, std::vector<ZipWriter::Placement>& at) {
    std::ostringstream out;
    ZipWriter writer(out);
    for (const auto& e : entries) writer.Add(e);
    writer.Finish();
    at = writer.placements();
    return out.str();
  };
  std::vector<ZipWriter::Placement> p;

  // Three central headers point at the first local header.
  std::string shared = written({Entry("a.txt", page), Entry("b.txt", page), Entry("c.txt", page)}, p);
  std::vector<size_t> central = CentralHeaderOffsets(shared);
  for (size_t i : {1, 2}) PutLe(shared, central[i] + 42, 4, 0);

  // The first entry's data reaches over the second entry's local header.
  size_t directory = 0;
  std::string quoted = written({Entry("a.txt", "abc", Method::kStored), Entry("b.txt", page)}, p);
  central = CentralHeaderOffsets(quoted, &directory);
  uint32_t span = static_cast<uint32_t>(directory - p[0].data_offset);
  PatchEntry(quoted, p[0], central[0], CrcOf(quoted, p[0].data_offset, span), span, span);

  // The only entry's data runs into the central directory (short of the
  // CRC and sizes patched there).
  std::string into_directory = written({Entry("a.txt", "abc", Method::kStored)}, p);
  central = CentralHeaderOffsets(into_directory);
  PatchEntry(into_directory, p[0], central[0], CrcOf(into_directory, p[0].data_offset, 15), 15, 15);

  // A local extra field, which only the local header tells, moves the first
  // entry's data into the second entry's local header.
  std::string extra = written({Entry("a.txt", "abcdefgh", Method::kStored), Entry("b.txt", page)}, p);
  central = CentralHeaderOffsets(extra);
  PutLe(extra, p[0].local_header_offset + 28, 2, 8);
  PatchEntry(extra, p[0], central[0], CrcOf(extra, p[0].data_offset + 8, 8), 8, 8);

  const struct {
    const char* label;
    const std::string& bytes;
    bool refused_at_open;
  } kCases[] = {
      {"entries share one local header", shared, true},
      {"data covers the next local header", quoted, true},
      {"data runs into the central directory", into_directory, true},
      {"local extra field shifts data into the next entry", extra, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove_all(Path("out"));
    std::filesystem::create_directories(Path("out"));
    std::string message;
    EXPECT_EQ(ZipErrorOf([&] { ExtractAll(c.bytes, message); }), kZipBadArchive);
    EXPECT_TRUE(std::filesystem::is_empty(Path("out")));
    CZipArchive zip;
    EXPECT_EQ(ZipErrorOf([&] { zip.Open(Store(c.bytes)); }), c.refused_at_open ? kZipBadArchive : 0);
  }
}

TEST_F(ZipArchiveTest, EmptyArchiveHasNoEntries) {
  CZipArchive zip;
  zip.Open(Store(MakeZip({})));
  EXPECT_EQ(zip.GetCount(), 0u);
}

TEST_F(ZipArchiveTest, MissingArchiveRaisesFileErrorNamingTheFile) {
  CZipArchive zip;
  try {
    zip.Open(Path("missing.zip"));
    FAIL() << "no exception";
  } catch (const CFileException& e) {
    EXPECT_NE(e.GetDescription().find(Path("missing.zip")), std::string::npos);
  }
}

TEST_F(ZipArchiveTest, EncryptedAndDamagedEntriesFail) {
  auto encrypted = Entry("secret.txt", "x");
  encrypted.encrypted = true;
  std::string message;
  EXPECT_FALSE(ExtractAll(MakeZip({encrypted}), message));
  EXPECT_EQ(message, "");

  // Deflated data cut short: its sizes claim less than the stream needs.
  std::ostringstream out;
  ZipWriter writer(out);
  writer.Add(Entry("cut.txt", NoiseBytes(50000), Method::kDeflated));
  writer.Finish();
  std::string bytes = out.str();
  const auto& p = writer.placements()[0];
  uint32_t shorter = p.compressed_size / 2;
  for (size_t at :
       {static_cast<size_t>(p.local_header_offset + 18), bytes.size() - 22 - (46 + 7) + 20}) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(shorter >> (8 * i));
  }
  EXPECT_FALSE(ExtractAll(bytes, message));
  EXPECT_EQ(message, Path("out") + "/cut.txt" + kEntryWriteFailedTail);
}

TEST_F(ZipArchiveTest, NamesLeadingOutsideAreRefusedAndNothingIsWrittenThere) {
  const struct {
    const char* name;
    const char* written;  // below out/, or null when refused
  } kCases[] = {
      {"../escape.txt", nullptr},
      {"a/../../escape.txt", nullptr},
      {"..\\escape.txt", nullptr},
      {"a\\..\\..\\escape.txt", nullptr},
      {"C:/../escape.txt", nullptr},
      {"/../escape.txt", nullptr},
      {"..", nullptr},
      {"/abs/ok.txt", "abs/ok.txt"},
      {"C:\\dir\\ok.txt", "dir/ok.txt"},
      {"dots..name/x..y.txt", "dots..name/x..y.txt"},
  };
  for (const auto& c : kCases) {
    std::string message;
    bool ok = ExtractAll(MakeZip({Entry(c.name, "data")}), message);
    EXPECT_EQ(ok, c.written != nullptr) << c.name;
    if (c.written) {
      EXPECT_EQ(ReadFile(std::string("out/") + c.written), "data") << c.name;
    } else {
      EXPECT_NE(message.find(kEntryUnsafeNameTail), std::string::npos) << c.name;
    }
    EXPECT_FALSE(Exists("escape.txt")) << c.name;
  }
}

TEST_F(ZipArchiveTest, LinksInTheDestinationAreNeverFollowed) {
  WriteFile("outside/victim.txt", "keep");
  std::filesystem::create_symlink(Path("outside/victim.txt"), Path("out/link.txt"));
  std::filesystem::create_symlink(Path("outside"), Path("out/dir"));
  std::string message;
  // A link at the file's own name is replaced by a regular file.
  ASSERT_TRUE(ExtractAll(MakeZip({Entry("link.txt", "new")}), message)) << message;
  EXPECT_TRUE(IsRegularFile(Path("out/link.txt")));
  EXPECT_EQ(ReadFile("out/link.txt"), "new");
  // A link on the way to it makes the entry fail.
  EXPECT_FALSE(ExtractAll(MakeZip({Entry("dir/victim.txt", "new")}), message));
  EXPECT_EQ(message, Path("out") + "/dir/victim.txt" + kEntryWriteFailedTail);
  EXPECT_EQ(ReadFile("outside/victim.txt"), "keep");
}

TEST_F(ZipArchiveTest, TargetThatCannotBeWrittenGivesTheMessage) {
  std::filesystem::create_directories(Path("out/taken.txt/inner"));
  std::string message;
  EXPECT_FALSE(ExtractAll(MakeZip({Entry("taken.txt", "x")}), message));
  EXPECT_EQ(message, Path("out") + "/taken.txt" + kEntryWriteFailedTail);
}

TEST_F(ZipArchiveTest, PermissionsNeverExceedTheEntry) {
  const unsigned umask = platform::ProcessUmask();
  const struct {
    const char* name;
    std::optional<unsigned> unix_mode;
    bool read_only;
    unsigned expected;
  } kCases[] = {
      {"reader", 0755, false, 0755},
      {"private", 0600, false, 0600},
      {"setuid", 04755, false, 0755},
      {"everyone", 0777, false, 0777},
      {"unix-read-only", 0644, true, 0444},
      {"windows", std::nullopt, false, 0666},
      {"windows-read-only", std::nullopt, true, 0444},
  };
  std::vector<ZipEntrySpec> entries;
  for (const auto& c : kCases) {
    auto e = Entry(c.name, "#!/bin/sh\n");
    e.unix_mode = c.unix_mode;
    e.read_only = c.read_only;
    entries.push_back(e);
  }
  auto locked = DirectoryEntry("locked/");
  locked.unix_mode = 0555;
  entries.push_back(locked);
  entries.push_back(Entry("locked/inside.txt", "later entries still get in"));
  std::string message;
  ASSERT_TRUE(ExtractAll(MakeZip(entries), message)) << message;
  for (const auto& c : kCases)
    EXPECT_EQ(ModeOf(Path(std::string("out/") + c.name)), c.expected & ~umask) << c.name;
  EXPECT_EQ(ReadFile("out/locked/inside.txt"), "later entries still get in");
  EXPECT_EQ(ModeOf(Path("out/locked")), 0555u & ~umask);
}

TEST_F(ZipArchiveTest, Utf8NamesAreConvertedAndGbkNamesKept) {
  const std::string utf8 = reinterpret_cast<const char*>(u8"课本/第一章.txt");
  auto flagged = Entry(utf8, "utf8");
  flagged.utf8_name = true;
  auto gbk = Entry("课本/第二章.txt", "gbk");  // a plain literal is GBK here
  CZipArchive zip;
  zip.Open(Store(MakeZip({flagged, gbk})));
  EXPECT_EQ(zip.GetFileInfo(0).name(), "课本/第一章.txt");
  std::string message;
  ASSERT_TRUE(zip.ExtractEntry(0, Path("out"), message)) << message;
  ASSERT_TRUE(zip.ExtractEntry(1, Path("out"), message)) << message;
  EXPECT_EQ(ReadFile("out/" + utf8), "utf8");
  EXPECT_EQ(ReadFile("out/" + std::string(reinterpret_cast<const char*>(u8"课本/第二章.txt"))),
            "gbk");
}

}  // namespace
