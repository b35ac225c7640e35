// A whole catalogue pass against the demo service run as a process of its
// own: records, package lists, covers and the cache on disk.
#include "books/catalogue_sync.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/config_key.h"
#include "app/sealed_file.h"
#include "books/book_collection.h"
#include "books/book_results.h"
#include "config/parameter_store.h"
#include "net/request_helpers.h"
#include "tests/support/demo_service_process.h"
#include "tests/support/program_dir.h"

namespace {

using testing_support::DemoServiceProcess;
using testing_support::WaitFor;

const char* const kGids[] = {"g1001", "g1002", "g1003"};

class CatalogueSyncTest : public testing_support::ProgramDirSandbox {
 protected:
  void SetUp() override {
    ProgramDirSandbox::SetUp();
    BuildConfigKey();
    collection_ = std::make_unique<BookCollection>();
    collection_->SetUser("u1", "s1", "name", "pw");
    SetParameter("wwwhome_data", "http://$SERVER_DATA$/data");
    SetParameter("wwwhome_app", "http://$SERVER$/");
    SetParameter("_CONFIG_EF_token", "demo-token");
  }
  void TearDown() override {
    collection_.reset();
    ProgramDirSandbox::TearDown();
  }

  // Starts a demo service in a folder of its own and points the servers at it.
  void StartDemo(DemoServiceProcess& demo, const std::string& folder,
                 std::vector<std::string> options = {}) {
    std::string directory = Path(folder);
    std::filesystem::create_directories(directory);
    ASSERT_TRUE(demo.Start(directory, std::move(options)));
    std::string host = demo.Url("").substr(7);
    SetParameter("serverlist",
                 "app#demo#1#1#" + host + ";dat#demo#1#1#" + host + ";cor#demo#1#1#" + host);
    // Placeholders are completed only in the address parameters of the
    // wwwhome family; the catalogue address is configured complete.
    SetParameter("url_getTomeRack", demo.Url("/api/tomerack"));
  }

  static std::string PublishedDigest(const DemoServiceProcess& demo, const std::string& gid) {
    std::string digest;
    EXPECT_EQ(
        HttpRequestText(digest, "GET", demo.Url("/data/books/" + gid + "/" + gid + ".zip.MD5")), 0);
    return digest;
  }

  static size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
      ++count;
    }
    return count;
  }

  std::unique_ptr<BookCollection> collection_;
};

TEST_F(CatalogueSyncTest, FirstSyncCreatesRecordsCoversPackageListsAndCache) {
  DemoServiceProcess demo;
  StartDemo(demo, "service");
  ASSERT_EQ(SyncCatalogue(*collection_), 1);

  EXPECT_EQ(collection_->DataServerRoot(), demo.Url("/data"));
  EXPECT_EQ(collection_->ApplicationRoot(), demo.Url(""));
  ASSERT_EQ(collection_->AllRecords().size(), 3u);
  for (const char* gid : kGids) {
    SCOPED_TRACE(gid);
    std::string digest = PublishedDigest(demo, gid);
    ASSERT_EQ(digest.size(), 32u);
    RecordPtr record = collection_->FindRecord(gid);
    ASSERT_TRUE(record);
    BookFields f = record->Fields();
    EXPECT_EQ(f.gid, gid);
    EXPECT_EQ(f.bookID, gid);
    EXPECT_EQ(f.bookStatus, 0u);
    EXPECT_EQ(f.imageURL, "images/" + std::string(gid) + ".png");
    EXPECT_EQ(f.bookURL, "books/" + std::string(gid) + "/" + gid + ".zip");
    EXPECT_EQ(f.bookReader, "tomereader");
    EXPECT_EQ(f.IID, f.bookTitle);
    EXPECT_EQ(f.editionName, f.bookTitle);
    EXPECT_EQ(f.editionDesc, f.bookTitle);
    EXPECT_TRUE(f.version.empty() && f.editionTime.empty() && f.bookInstallDir.empty());
    EXPECT_EQ(f.bookMD5, digest);
    EXPECT_EQ(f.downloading_bookMD5, digest);
    EXPECT_EQ(f.last_bookMD5, digest);
    EXPECT_EQ(f.bookPackageID, gid);
    EXPECT_EQ(f.downloading_bookPackageID, gid);
    EXPECT_EQ(f.last_bookPackageID, gid);

    // The record file holds the same record.
    BookRecord loaded;
    ASSERT_EQ(LoadRecordFile(loaded, Path("data/bookinf/" + std::string(gid) + ".inf")), kBookOk);
    EXPECT_EQ(RecordToJson(loaded.Fields()), RecordToJson(f));

    // The cover arrived, so the package list was started again empty.
    std::string cover = ReadFile("images/" + std::string(gid) + ".png");
    EXPECT_EQ(cover.substr(0, 4), "\x89PNG");
    std::string list_text = "not read";
    ASSERT_EQ(ReadSealedFile(Path("data/bookinf/" + std::string(gid) + ".lst"), kRecordOuterByte,
                             list_text),
              kSealOk);
    EXPECT_EQ(list_text, "");
    PackageList list;
    EXPECT_TRUE(collection_->FindPackageList(gid, list));
    EXPECT_TRUE(list.empty());
  }
  EXPECT_EQ(collection_->FindRecord("g1002")->Fields().bookTitle, "语文 七年级 上册");

  // The cache is read back as the catalogue.
  collection_->catalogue().Clear();
  ASSERT_EQ(LoadCachedCatalogue(*collection_, "u1"), kBookOk);
  EXPECT_EQ(collection_->catalogue().RowCount(), 3u);
  std::string gid;
  EXPECT_TRUE(collection_->catalogue().GidForBsid("b1003", gid));
  EXPECT_EQ(gid, "g1003");
  EXPECT_EQ(collection_->catalogue().FullNameForGid("g1001"), "数学 七年级 上册");

  std::string text;
  EXPECT_EQ(GetCatalogueText(*collection_, "u1", text), kBookOk);
  EXPECT_NE(text.find("\"Return\":\"0"), std::string::npos);
  EXPECT_EQ(GetCatalogueText(*collection_, "U1", text), kBookRefused);
  EXPECT_EQ(LoadCachedCatalogue(*collection_, "someone-else"), kBookReadFailed);
  // The service logs a request after answering it.
  EXPECT_TRUE(WaitFor([&] { return Count(demo.AccessLog(), "POST /api/tomerack 200") == 1; }));
}

TEST_F(CatalogueSyncTest, LaterSyncTakesOnlyTheNewestPackageIntoExistingRecords) {
  {
    DemoServiceProcess demo;
    StartDemo(demo, "service");
    ASSERT_EQ(SyncCatalogue(*collection_), 1);
  }
  RecordPtr record = collection_->FindRecord("g1001");
  ASSERT_TRUE(record);
  BookFields first = record->Fields();
  // What the user's side changed stays: title, status and installed digest.
  record->Update([](BookFields& f) {
    f.bookTitle = "local title";
    f.bookStatus = kBookInstalled;
  });
  ASSERT_EQ(SaveRecord(*record), kBookOk);

  // The same books, now published with other digests.
  DemoServiceProcess changed;
  StartDemo(changed, "changed", {"--wrong-digest"});
  ASSERT_EQ(SyncCatalogue(*collection_), 1);
  std::string newest = PublishedDigest(changed, "g1001");
  ASSERT_NE(newest, first.last_bookMD5);

  EXPECT_EQ(collection_->FindRecord("g1001"), record);
  BookFields now = record->Fields();
  EXPECT_EQ(now.last_bookMD5, newest);
  EXPECT_EQ(now.last_bookPackageID, "g1001");
  EXPECT_EQ(now.bookMD5, first.bookMD5);
  EXPECT_EQ(now.downloading_bookMD5, first.downloading_bookMD5);
  EXPECT_EQ(now.bookTitle, "local title");
  EXPECT_EQ(now.bookStatus, kBookInstalled);
  EXPECT_TRUE(IsUpgradeAvailable(*record));

  BookRecord loaded;
  ASSERT_EQ(LoadRecordFile(loaded, Path("data/bookinf/g1001.inf")), kBookOk);
  EXPECT_EQ(RecordToJson(loaded.Fields()), RecordToJson(now));
  // Covers already on disk are not fetched again.
  EXPECT_EQ(Count(changed.AccessLog(), "GET /data/images/"), 0u);
}

TEST_F(CatalogueSyncTest, NothingIsAskedWithoutTokenOrUser) {
  DemoServiceProcess demo;
  StartDemo(demo, "service");
  SetParameter("_CONFIG_EF_token", "");
  EXPECT_EQ(SyncCatalogue(*collection_), 0);
  SetParameter("_CONFIG_EF_token", "demo-token");
  collection_->SetUser("", "", "", "");
  EXPECT_EQ(SyncCatalogue(*collection_), 0);

  EXPECT_EQ(Count(demo.AccessLog(), "/api/tomerack"), 0u);
  EXPECT_TRUE(collection_->AllRecords().empty());
  EXPECT_FALSE(Exists("data/user"));
}

TEST_F(CatalogueSyncTest, RefusedTokenIsAFailedRequestThatStoresNothing) {
  DemoServiceProcess demo;
  StartDemo(demo, "service");
  SetParameter("_CONFIG_EF_token", "wrong-token");
  EXPECT_EQ(SyncCatalogue(*collection_), 0);

  EXPECT_TRUE(WaitFor([&] { return Count(demo.AccessLog(), "POST /api/tomerack 401") == 1; }));
  EXPECT_TRUE(collection_->AllRecords().empty());
  EXPECT_EQ(collection_->PackageListCount(), 0u);
  EXPECT_EQ(collection_->catalogue().RawText(), "无数据");
  EXPECT_FALSE(Exists("data/user/u1/bs.dat"));
  EXPECT_FALSE(Exists("data/bookinf"));
}

TEST_F(CatalogueSyncTest, EmptyCoverOnDiskIsFetchedAgainAndOthersAreKept) {
  WriteFile("images/g1001.png", "");
  WriteFile("images/g1002.png", "kept cover");
  DemoServiceProcess demo;
  StartDemo(demo, "service");
  ASSERT_EQ(SyncCatalogue(*collection_), 1);

  EXPECT_EQ(ReadFile("images/g1001.png").substr(0, 4), "\x89PNG");
  EXPECT_EQ(ReadFile("images/g1002.png"), "kept cover");
  EXPECT_TRUE(
      WaitFor([&] { return Count(demo.AccessLog(), "GET /data/images/g1001.png 200") == 1; }));
  EXPECT_EQ(Count(demo.AccessLog(), "GET /data/images/g1002.png"), 0u);
}

}  // namespace
