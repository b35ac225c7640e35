// The catalogue request and the row pass against answers the demo service
// does not give: digests with line ends, missing covers and digests,
// unsuccessful replies, unusable gids, and the program closing mid-pass.
#include <cJSON.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/sealed_file.h"
#include "books/book_collection.h"
#include "books/book_results.h"
#include "books/catalogue_sync.h"
#include "tests/books/fake_catalogue_service.h"
#include "util/json_tree.h"

namespace {

using testing_support::CatalogueReplyFor;
using testing_support::kFakeDigest;

class CataloguePassTest : public testing_support::FakeServiceSandbox {
 protected:
  size_t DigestRequests() { return service_.CountPrefix("/data/books/"); }
  size_t CoverRequests() { return service_.CountPrefix("/data/images/"); }
};

TEST_F(CataloguePassTest, RequestCarriesTokenTimeAndTheUsersCommand) {
  collection_->SetUser("u1", "s\"1", "name", "pw");
  ASSERT_EQ(SyncCatalogue(*collection_), 1);
  auto requests = service_.Requests();
  ASSERT_FALSE(requests.empty());
  const auto& r = requests.front();
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.path, "/api/tomerack");
  EXPECT_EQ(r.headers.find("Authorization")->second, "tok");
  EXPECT_EQ(r.headers.find("Content-Type")->second, "application/json;charset:utf-8");
  // "?<seconds>": one parameter made of digits only.
  ASSERT_GT(r.query_time.size(), 2u);
  EXPECT_EQ(r.query_time.find_first_not_of("0123456789"), r.query_time.size() - 2);
  EXPECT_EQ(service_.CatalogueBody(),
            "{\r\n\"Function\":\"DataAccess\",\"Callback\":\"\",\"UID\":\"u1\","
            "\"SessionID\":\"s\\\"1\",\"ID\":\"\",\"Para\":{\r\n\t\"Dataset\":\"DTM\","
            "\"Data\":\"Tomerack_Get\",\"Condition\":[],\"ConditionName\":[]}}");
  // A quote in the session cannot add members to the command.
  JsonPtr body = ParseJson(service_.CatalogueBody());
  ASSERT_TRUE(body);
  EXPECT_STREQ(JsonStringMember(body.get(), "SessionID"), "s\"1");
}

struct DigestCase {
  const char* name;
  std::string body;
  int status;
  int result;
  size_t requests;
};

TEST_F(CataloguePassTest, DigestIsAcceptedOnlyAsThirtyTwoCharacters) {
  const DigestCase cases[] = {
      {"exactly 32", kFakeDigest, 200, kBookOk, 1},
      {"32 and a line end: retried twice, then trimmed", kFakeDigest + "\r\n", 200, kBookOk, 3},
      {"too short", "0123", 200, kBookRefused, 3},
      {"not found", "", 404, kBookRefused, 3},
  };
  RefreshCollectionAddresses(*collection_);
  size_t seen = 0;
  for (const DigestCase& c : cases) {
    SCOPED_TRACE(c.name);
    service_.SetDigest(c.body, c.status);
    std::string digest = "unset";
    EXPECT_EQ(FetchPackageDigest(*collection_, digest, "books/g1.zip", "p7"), c.result);
    EXPECT_EQ(digest, c.result == kBookOk ? kFakeDigest : "unset");
    EXPECT_EQ(DigestRequests() - seen, c.requests);
    seen = DigestRequests();
  }
  auto requests = service_.Requests();
  EXPECT_EQ(requests.back().path, "/data/books/p7.zip.MD5");
  EXPECT_EQ(requests.back().query_time.rfind("timemark=", 0), 0u);
}

TEST_F(CataloguePassTest, MissingCoverPutsTheNewestPackageIntoTheList) {
  service_.SetCoversOk(false);
  service_.SetCatalogueReply(
      CatalogueReplyFor({"g1"}, reinterpret_cast<const char*>(u8"物理 八年级")));
  ASSERT_EQ(SyncCatalogue(*collection_), 1);
  EXPECT_EQ(CoverRequests(), 3u);
  EXPECT_FALSE(Exists("images/g1.png"));

  std::string list_text;
  ASSERT_EQ(ReadSealedFile(Path("data/bookinf/g1.lst"), kRecordOuterByte, list_text), kSealOk);
  EXPECT_EQ(list_text, "g1 " + kFakeDigest);
  RecordPtr record = collection_->FindRecord("g1");
  ASSERT_TRUE(record);
  EXPECT_EQ(record->Fields().bookTitle, "物理 八年级");
  EXPECT_EQ(record->Fields().last_bookMD5, kFakeDigest);
  // The digest came once, for the list; the record took it from there.
  EXPECT_EQ(DigestRequests(), 1u);

  // The same package again is not appended twice.
  ASSERT_EQ(SyncCatalogue(*collection_), 1);
  ASSERT_EQ(ReadSealedFile(Path("data/bookinf/g1.lst"), kRecordOuterByte, list_text), kSealOk);
  EXPECT_EQ(list_text, "g1 " + kFakeDigest);
}

TEST_F(CataloguePassTest, NoRecordWithoutDigest) {
  service_.SetCoversOk(false);
  service_.SetDigest("", 404);
  ASSERT_EQ(SyncCatalogue(*collection_), 1);
  EXPECT_EQ(collection_->FindRecord("g1"), nullptr);
  EXPECT_FALSE(Exists("data/bookinf/g1.inf"));
  // The list step and the record step each tried three times.
  EXPECT_EQ(DigestRequests(), 6u);
  // The catalogue itself was taken and cached.
  EXPECT_EQ(collection_->catalogue().RowCount(), 1u);
  EXPECT_TRUE(Exists("data/user/u1/bs.dat"));
}

TEST_F(CataloguePassTest, ClosingProgramStopsThePassAtTheNextDownload) {
  service_.SetCatalogueReply(CatalogueReplyFor({"g1", "g2"}));
  service_.SetOnCover([] { SetApplicationExiting(true); });
  ASSERT_EQ(SyncCatalogue(*collection_), 1);
  EXPECT_EQ(CoverRequests(), 1u);
  EXPECT_EQ(DigestRequests(), 0u);
  EXPECT_TRUE(collection_->AllRecords().empty());

  std::string digest;
  EXPECT_EQ(FetchPackageDigest(*collection_, digest, "books/g2.zip", "g2"), kApplicationExiting);
  EXPECT_EQ(FetchCoverImage("images/g2.png", collection_->DataServerRoot(), dir()),
            kApplicationExiting);
  EXPECT_EQ(CoverRequests(), 1u);
  EXPECT_EQ(DigestRequests(), 0u);
}

TEST_F(CataloguePassTest, RepliesThatAreNotProcessed) {
  struct Case {
    const char* name;
    std::string reply;
    bool cached;
  };
  const Case cases[] = {
      {"refused by the service", "{\"Return\":\"1002001\",\"Message\":\"no\"}", false},
      {"no rows: cached only",
       "{\"Return\":\"0\",\"UID\":\"u1\",\"Para\":{\"Rows\":\"0\",\"Columns\":\"9\","
       "\"ColumnName\":[],\"Data\":[]}}",
       true},
      {"another user's catalogue: cached only",
       CatalogueReplyFor({"g1"}).replace(CatalogueReplyFor({"g1"}).find("u1"), 2, "u2"), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(Path("data"));
    service_.SetCatalogueReply(c.reply);
    EXPECT_EQ(SyncCatalogue(*collection_), 1);
    EXPECT_EQ(collection_->catalogue().RawText(), "无数据");
    EXPECT_TRUE(collection_->AllRecords().empty());
    EXPECT_EQ(CoverRequests() + DigestRequests(), 0u);
    std::string cached;
    EXPECT_EQ(ReadSealedFile(Path("data/user/u1/bs.dat"), kRecordOuterByte, cached),
              c.cached ? kSealOk : kSealNoFile);
    if (c.cached) {
      EXPECT_EQ(cached, c.reply);
    }
  }
}

TEST_F(CataloguePassTest, GidsThatCannotNameAFileAreSkipped) {
  service_.SetCatalogueReply(CatalogueReplyFor({"../escape", "", "..", "g1"}));
  ASSERT_EQ(SyncCatalogue(*collection_), 1);
  auto records = collection_->AllRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records.front()->BookId(), "g1");
  EXPECT_FALSE(Exists("data/escape.inf"));
  EXPECT_FALSE(Exists("data/escape.lst"));
  EXPECT_FALSE(Exists("data/bookinf/.inf"));
  EXPECT_EQ(CoverRequests(), 1u);
}

// A login for another user while a pass of the previous one is under way:
// nothing of the old pass reaches the new user's collection or the disk.
TEST_F(CataloguePassTest, APassOfThePreviousUserStoresNothing) {
  struct Case {
    const char* name;
    bool at_answer;  // the user changes while the answer is on its way
  } cases[] = {{"while the catalogue is answered", true}, {"at the first cover", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(Path("data"));
    std::filesystem::remove_all(Path("images"));
    collection_ = std::make_unique<BookCollection>();
    collection_->SetUser("u1", "s1", "name", "pw");
    service_.SetCatalogueReply(CatalogueReplyFor({"g1", "g2"}));
    size_t covers_before = CoverRequests();
    int asked_before = service_.CatalogueRequests();
    BookCollection* collection = collection_.get();
    if (c.at_answer) {
      service_.SetOnCover(nullptr);
      service_.HoldCatalogue(true);
    } else {
      service_.SetOnCover([collection] { collection->SetUser("u2", "s2", "other", "pw2"); });
    }
    int result = -1;
    std::thread pass([&] { result = SyncCatalogue(*collection); });
    if (c.at_answer) {
      EXPECT_TRUE(service_.WaitForCatalogueRequests(asked_before + 1));
      collection->SetUser("u2", "s2", "other", "pw2");
      service_.HoldCatalogue(false);
    }
    pass.join();
    service_.SetOnCover(nullptr);
    EXPECT_EQ(result, 1);
    if (c.at_answer) {
      EXPECT_EQ(collection->catalogue().RawText(), "无数据");
    }
    EXPECT_TRUE(collection->AllRecords().empty());
    EXPECT_EQ(collection->PackageListCount(), 0u);
    EXPECT_FALSE(Exists("data/user/u1/bs.dat"));
    EXPECT_FALSE(Exists("data/user/u2/bs.dat"));
    EXPECT_FALSE(Exists("data/bookinf"));
    EXPECT_LE(CoverRequests() - covers_before, c.at_answer ? 0u : 1u);
  }
}

// The catalogue names the local file of each cover: only an image, and
// never one of the program's own files.
TEST_F(CataloguePassTest, CoversAreWrittenOnlyAsImagesOutsideTheProgramsOwnFolders) {
  const struct {
    const char* image;
    const char* written;  // where it lands; null: refused without a request
  } kCases[] = {
      {"images/g1.png", "images/g1.png"},
      {"images/sub/g2.JPEG", "images/sub/g2.JPEG"},
      {"/images/g3.gif", "images/g3.gif"},
      {"images/g4.Bmp", "images/g4.Bmp"},
      {"images/g5.jpg", "images/g5.jpg"},
      {"system/tomerack.ini", nullptr},
      {"system/cover.png", nullptr},
      {"..\\system\\cover.bmp", nullptr},
      {"System/cover.png", nullptr},
      {"DTM/Index.html", nullptr},
      {"DTM/images/logo.png", nullptr},
      {"data/bookinf/g1.inf", nullptr},
      {"data/bookinf/g1.png", nullptr},
      {"data//bookinf/g1.png", nullptr},
      {"data/user/u1/bs.dat", nullptr},
      {"data/user/u1/cover.jpg", nullptr},
      {"tomerack", nullptr},
      {"images/g1.png.sh", nullptr},
      {"images/", nullptr},
  };
  RefreshCollectionAddresses(*collection_);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.image);
    size_t before = CoverRequests();
    int result = FetchCoverImage(c.image, collection_->DataServerRoot(), dir());
    if (c.written) {
      EXPECT_EQ(result, kBookOk);
      EXPECT_EQ(ReadFile(c.written), "cover bytes");
      EXPECT_EQ(CoverRequests() - before, 1u);
    } else {
      EXPECT_EQ(result, kCatalogueMissingPart);
      EXPECT_EQ(CoverRequests(), before);
    }
  }
  for (const char* written : {"system", "DTM", "data/bookinf", "data/user", "tomerack"}) {
    EXPECT_FALSE(Exists(written)) << written;
  }
}

// A uid from a page that could lead out of the users' folders is no user.
TEST_F(CataloguePassTest, AUidThatIsNoPlainFolderNameIsNotSynchronised) {
  for (const char* uid : {"../escape", "a/b", "..", "a\\b"}) {
    SCOPED_TRACE(uid);
    collection_->SetUser(uid, "s1", "name", "pw");
    EXPECT_EQ(SyncCatalogue(*collection_), 0);
    EXPECT_EQ(LoadCachedCatalogue(*collection_, uid), kBookReadFailed);
  }
  EXPECT_EQ(service_.CatalogueRequests(), 0);
  EXPECT_FALSE(Exists("data"));
  EXPECT_FALSE(Exists("escape"));
}

}  // namespace
