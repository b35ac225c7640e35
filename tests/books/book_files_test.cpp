// Record files, package lists and the collection's loading of them, on
// real files in a program directory.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/config_key.h"
#include "app/sealed_file.h"
#include "books/book_collection.h"
#include "books/book_paths.h"
#include "books/book_results.h"
#include "books/package_list.h"
#include "tests/support/program_dir.h"
#include "util/json_tree.h"

namespace {

const std::string kDigest = "0123456789abcdef0123456789abcdef";

class BookFilesTest : public testing_support::ProgramDirSandbox {
 protected:
  void SetUp() override {
    ProgramDirSandbox::SetUp();
    BuildConfigKey();
  }
  static BookFields SampleFields(const std::string& id) {
    BookFields f;
    f.gid = f.bookID = id;
    f.bookStatus = kBookInstalled;
    f.bookSize = 3000000000u;  // above 2^31
    f.bookTitle = "语文 一年级";
    f.bookURL = "data/jc/7/" + id + ".zip";
    f.bookMD5 = kDigest;
    f.downloading_bookSize = 4000000000u;
    f.downloading_downloadedSize = 12345;
    f.last_bookPackageID = id;
    return f;
  }
  std::string RecordFile(const std::string& id) const { return "data/bookinf/" + id + ".inf"; }
};

TEST_F(BookFilesTest, RecordJsonHasTheTwentyTwoStringMembersInOrder) {
  JsonPtr json = ParseJson(RecordToJson(SampleFields("10101")));
  ASSERT_TRUE(json);
  const char* kKeys[] = {"gid",
                         "bookID",
                         "bookStatus",
                         "bookSize",
                         "imageURL",
                         "bookTitle",
                         "bookURL",
                         "bookMD5",
                         "bookReader",
                         "bookInstallDir",
                         "IID",
                         "version",
                         "editionName",
                         "editionTime",
                         "editionDesc",
                         "bookPackageID",
                         "downloading_bookMD5",
                         "downloading_bookSize",
                         "downloading_downloadedSize",
                         "downloading_bookPackageID",
                         "last_bookPackageID",
                         "last_bookMD5"};
  int i = 0;
  for (const cJSON* item = json->child; item; item = item->next, ++i) {
    ASSERT_LT(i, kRecordFieldCount);
    EXPECT_STREQ(item->string, kKeys[i]);
    EXPECT_TRUE(cJSON_IsString(item)) << item->string;
  }
  EXPECT_EQ(i, kRecordFieldCount);
  EXPECT_STREQ(JsonStringMember(json.get(), "bookSize"), "3000000000");
}

TEST_F(BookFilesTest, SavedRecordsLoadBackSealedOrPlain) {
  BookRecord saved;
  saved.SetFields(SampleFields("10101"));
  ASSERT_EQ(SaveRecord(saved), kBookOk);
  std::string on_disk = ReadFile(RecordFile("10101"));
  EXPECT_EQ(on_disk.find("10101"), std::string::npos) << "record file is not sealed";
  BookRecord loaded;
  ASSERT_EQ(LoadRecordFile(loaded, Path(RecordFile("10101"))), kBookOk);
  EXPECT_EQ(RecordToJson(loaded.Fields()), RecordToJson(saved.Fields()));

  // A plain file (two blanks first) is read too; absent members stay, and
  // integers that are not numbers read as 0.
  WriteFile("plain.inf", "  {\"bookID\":\"7\",\"bookStatus\":\"abc\",\"bookSize\":\"-1\"}");
  BookRecord plain;
  plain.Update([](BookFields& f) {
    f.bookTitle = "kept";
    f.bookStatus = 16;
  });
  ASSERT_EQ(LoadRecordFile(plain, Path("plain.inf")), kBookOk);
  BookFields f = plain.Fields();
  EXPECT_EQ(f.bookID, "7");
  EXPECT_EQ(f.bookTitle, "kept");
  EXPECT_EQ(f.bookStatus, 0u);
  EXPECT_EQ(f.bookSize, 4294967295u);

  // Numbers: in 64 bits they keep their low 32 bits, as before; beyond
  // 64 bits (the fuzzer's 5.4e34) they read as 0 instead of converting out
  // of range.
  const struct {
    const char* number;
    uint32_t status;
  } numbers[] = {{"5", 5u}, {"4294967312", 16u}, {"54444444444444444444444444444444444", 0u},
                 {"1e300", 0u}, {"-7", 0u}};
  for (const auto& n : numbers) {
    SCOPED_TRACE(n.number);
    WriteFile("number.inf", std::string("  {\"bookID\":\"8\",\"bookStatus\":") + n.number + "}");
    BookRecord numbered;
    ASSERT_EQ(LoadRecordFile(numbered, Path("number.inf")), kBookOk);
    EXPECT_EQ(numbered.Status(), n.status);
  }

  WriteFile("notjson.inf", "  this is not JSON");
  EXPECT_EQ(LoadRecordFile(plain, Path("notjson.inf")), kBookOk);
  EXPECT_EQ(plain.Fields().bookID, "7");
  EXPECT_EQ(LoadRecordFile(plain, Path("missing.inf")), kBookReadFailed);
}

TEST_F(BookFilesTest, FailedRecordWriteIsReported) {
  BookRecord record;
  record.SetFields(SampleFields("10101"));
  // A directory where the file should go makes the write fail.
  std::filesystem::create_directories(Path(RecordFile("10101")));
  EXPECT_EQ(SaveRecord(record), kBookWriteFailed);
  EXPECT_EQ(record.Fields().bookID, "10101");
}

TEST_F(BookFilesTest, LoadAllRecordsKeepsGoodFilesAndSetsAsideBadOnes) {
  for (const char* id : {"1", "2"}) {
    BookRecord r;
    BookFields f = SampleFields(id);
    if (std::string(id) == "2") f.bookStatus = kBookDownloading;
    r.SetFields(f);
    ASSERT_EQ(SaveRecord(r), kBookOk);
  }
  WriteFile(RecordFile("plain"), "  {\"gid\":\"3\",\"bookID\":\"3\",\"bookStatus\":\"8\"}");
  WriteFile(RecordFile("nobookid"), "  {\"gid\":\"4\"}");
  WriteFile(RecordFile("empty"), "");
  WriteFile(RecordFile("again"), "  {}");
  WriteFile(RecordFile("again") + ".err", "an older damaged file");

  BookCollection collection;
  std::vector<std::string> recovering;
  collection.SetRecoveryStarter([&](const RecordPtr& r) { recovering.push_back(r->BookId()); });
  LoadAllRecords(collection);

  EXPECT_EQ(collection.AllRecords().size(), 3u);
  for (const char* id : {"1", "2", "3"}) EXPECT_TRUE(collection.FindRecord(id)) << id;
  std::sort(recovering.begin(), recovering.end());
  EXPECT_EQ(recovering, (std::vector<std::string>{"2", "3"}));
  for (const char* bad : {"nobookid", "empty"}) {
    EXPECT_FALSE(Exists(RecordFile(bad))) << bad;
    EXPECT_TRUE(Exists(RecordFile(bad) + ".err")) << bad;
  }
  // The older ".err" file wins; the damaged file stays where it is.
  EXPECT_TRUE(Exists(RecordFile("again")));
  EXPECT_EQ(ReadFile(RecordFile("again") + ".err"), "an older damaged file");

  std::string log;
  for (const auto& e : std::filesystem::directory_iterator(Path("log")))
    log += testing_support::ReadBytes(e.path());
  EXPECT_NE(log.find("ERR load book:" + Path(RecordFile("nobookid")) + "\r\n"), std::string::npos)
      << log;
}

TEST_F(BookFilesTest, ReplacedRecordLivesOnForItsHolders) {
  BookCollection collection;
  auto first = collection.PutRecord("1", std::make_shared<BookRecord>(&collection));
  first->Update([](BookFields& f) { f.bookTitle = "old"; });
  collection.PutRecord("1", std::make_shared<BookRecord>(&collection));
  EXPECT_EQ(first->Fields().bookTitle, "old");
  EXPECT_NE(collection.FindRecord("1"), first);
}

TEST_F(BookFilesTest, PackageListLinesAreParsedAsTheFormatSays) {
  const std::string d31 = kDigest.substr(1);
  const struct {
    std::string text;
    std::vector<std::string> ids;
  } kCases[] = {
      {"pkg1\t" + kDigest, {"pkg1"}},
      {"pkg1 " + d31, {}},
      {"  pkg1 " + kDigest, {"pkg1"}},
      {"pkg1   " + kDigest + "  ", {"pkg1"}},
      {" \t", {}},
      {"nodigest", {}},
      {"a " + kDigest + "\r\nb " + kDigest + "\r\n\r\nc " + d31, {"a", "b"}},
      {"", {}},
  };
  for (const auto& c : kCases) {
    PackageList list;
    list.package_ids = {"stale"};
    ParsePackageList(list, c.text, "g1");
    EXPECT_EQ(list.gid, "g1");
    EXPECT_EQ(list.package_ids, c.ids) << c.text;
    EXPECT_EQ(list.digests.size(), c.ids.size()) << c.text;
    for (const auto& d : list.digests) EXPECT_EQ(d, kDigest);
  }
}

TEST_F(BookFilesTest, PackageListsRoundTripThroughTheirFiles) {
  PackageList list{"10101", {"p1", "p2"}, {kDigest, "fedcba9876543210fedcba9876543210"}};
  EXPECT_EQ(PackageListText(list), "p1 " + kDigest + "\r\np2 fedcba9876543210fedcba9876543210");
  ASSERT_EQ(WritePackageList(list), 0);
  PackageList empty{"20202", {}, {}};
  ASSERT_EQ(WritePackageList(empty), 0);
  std::string text;
  // An empty list is an empty text, sealed: the header alone.
  EXPECT_EQ(ReadFile("data/bookinf/20202.lst").size(), kSealHeaderSize);
  ASSERT_EQ(ReadSealedFile(PackageListPath("20202"), kRecordOuterByte, text), kSealOk);
  EXPECT_EQ(text, "");

  WriteFile("data/bookinf/30303.lst", "");  // unreadable: skipped
  BookCollection collection;
  LoadAllPackageLists(collection);
  PackageList loaded;
  ASSERT_TRUE(collection.FindPackageList("10101", loaded));
  EXPECT_EQ(loaded.package_ids, list.package_ids);
  EXPECT_EQ(loaded.digests, list.digests);
  EXPECT_FALSE(collection.FindPackageList("30303", loaded));
}

}  // namespace
