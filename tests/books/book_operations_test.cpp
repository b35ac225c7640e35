// The book operations on a collection in a sandbox program directory: the
// guards and their messages, the download target, the workers and what they
// tell the owner window.
#include "books/book_operations.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "app/tip_text.h"
#include "books/book_paths.h"
#include "books/book_results.h"
#include "tests/support/program_dir.h"
#include "util/file_io.h"

namespace {

using testing_support::WaitFor;

// The owner window as the collection sees it: what it was asked to show.
class RecordingOwner {
 public:
  OwnerPoster Poster(const BookCollection& collection) {
    return [this, &collection](OwnerRequest request) {
      std::lock_guard<std::mutex> guard(lock_);
      if (request == OwnerRequest::kShowMessageBox) shown_.push_back(collection.Message().text);
      if (request == OwnerRequest::kShowTip) shown_.push_back("tip:" + TipText());
      if (request == OwnerRequest::kHideTip) shown_.push_back("tip hidden");
    };
  }
  std::vector<std::string> Shown() const {
    std::lock_guard<std::mutex> guard(lock_);
    return shown_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::string> shown_;
};

class BookOperationsTest : public testing_support::ProgramDirSandbox {
 protected:
  void SetUp() override {
    ProgramDirSandbox::SetUp();
    collection_ = std::make_unique<BookCollection>();
    collection_->SetOwner(owner_.Poster(*collection_));
    // Nothing listens there: transfers fail at once.
    collection_->SetAddresses("", "http://127.0.0.1:9/data", "");
    std::vector<std::string> row = {
        "b1", "g1", "Book", "images/g1.png", "", "", "", "books/g1/g1.zip", "reader"};
    collection_->catalogue().Store("raw", row);
  }
  void TearDown() override {
    collection_.reset();
    ProgramDirSandbox::TearDown();
  }

  RecordPtr AddRecord(uint32_t status, const std::string& last_package = "g1") {
    auto record = std::make_shared<BookRecord>(collection_.get());
    BookFields f;
    f.gid = f.bookID = "g1";
    f.bookStatus = status;
    f.bookURL = "books/g1/g1.zip";
    f.bookPackageID = f.downloading_bookPackageID = f.last_bookPackageID = last_package;
    f.bookMD5 = f.downloading_bookMD5 = f.last_bookMD5 = std::string(32, 'a');
    record->SetFields(f);
    return collection_->PutRecord("g1", record);
  }

  std::unique_ptr<BookCollection> collection_;
  RecordingOwner owner_;
};

TEST_F(BookOperationsTest, GuardsRefuseWithTheirMessages) {
  struct Case {
    const char* name;
    uint32_t status;
    const char* last_package;
    const char* operation;
    const char* message;
  } cases[] = {
      {"installing a new book", kBookDownloaded, "g1", "download", kInstallingDownloadMessage},
      {"installing an upgrade", kBookDownloaded | kBookInstalled, "g1", "upgrade",
       kInstallingUpgradeMessage},
      {"nothing published", 0, "", "download", kNoLatestPackageMessage},
      {"left downloading", kBookDownloading, "g1", "DOWNLOAD", kAlreadyDownloadingMessage},
      {"newest installed", kBookInstalled, "g1", "Upgrade", kAlreadyNewestMessage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordPtr record = AddRecord(c.status, c.last_package);
    BookFields before = record->Fields();
    BookOperationResult result = BookOperate(*collection_, "b1", c.operation);
    EXPECT_EQ(result.code, kBookRefused);
    EXPECT_EQ(result.message, c.message);
    EXPECT_EQ(record->Fields().bookStatus, before.bookStatus);
    EXPECT_FALSE(record->HasDownloadWorker());
  }
}

TEST_F(BookOperationsTest, ABookWithoutRecordAsksForASynchronisationWhenOnline) {
  BookOperationResult offline = BookOperate(*collection_, "b1", "download");
  EXPECT_EQ(offline.code, kBookRefused);
  EXPECT_EQ(offline.message, kNoRecordOfflineMessage);
  EXPECT_FALSE(collection_->sync_requested.load());

  collection_->online = true;
  BookOperationResult online = BookOperate(*collection_, "unknown", "open");
  EXPECT_EQ(online.message, kNoRecordOnlineMessage);
  EXPECT_TRUE(collection_->sync_requested.load());
}

TEST_F(BookOperationsTest, OpenStatusAndUnknownOperationsChangeNothing) {
  AddRecord(kBookInstalled);
  BookOperationResult open = BookOperate(*collection_, "b1", "OPEN");
  EXPECT_EQ(open.code, 0);
  EXPECT_TRUE(open.open);
  BookOperationResult status = BookOperate(*collection_, "b1", "bookStatus");
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(status.reply,
            "[{\"Type\":\"bookStatus\",\"bsid\":\"b1\",\"bookID\":\"g1\",\"bookStatus\":\"16\","
            "\"newVersion\":\"0\",\"Desc\":\"\"}]");
  EXPECT_EQ(BookOperate(*collection_, "b1", "fly").code, 0);
  EXPECT_EQ(BookOperate(*collection_, "nobody", "bookStatus").code, kBookRefused);
}

TEST_F(BookOperationsTest, ANewTargetDropsThePartialPackageOfTheOldOne) {
  RecordPtr record = AddRecord(0);
  record->Update([](BookFields& f) {
    f.last_bookPackageID = "g1v2";
    f.downloading_downloadedSize = 3;
  });
  std::string package = PackagePathOf(record->Fields());
  WriteFile(package.substr(dir().size() + 1), "old");
  std::string message;
  ASSERT_TRUE(CheckDownloadAllowed(*record, message)) << message;
  BookFields f = record->Fields();
  EXPECT_EQ(f.downloading_bookPackageID, "g1v2");
  EXPECT_EQ(f.downloading_downloadedSize, 0u);
  EXPECT_FALSE(FileExists(package));
  EXPECT_TRUE(FileExists(RecordPath("g1")));

  // The same target again: a partial package stays, to be resumed.
  WriteFile(package.substr(dir().size() + 1), "part");
  ASSERT_TRUE(CheckDownloadAllowed(*record, message));
  EXPECT_TRUE(FileExists(package));
}

TEST_F(BookOperationsTest, AFailedDownloadTellsTheOwnerAndEndsNotDownloading) {
  RecordPtr record = AddRecord(0);
  ASSERT_EQ(BookOperate(*collection_, "b1", "download").code, 0);
  record->WaitDownloadWorker();
  EXPECT_EQ(record->Status() & kBookDownloading, 0u);
  std::vector<std::string> shown = owner_.Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].rfind(
                "下载出错(1)，请检查网络。（错误地址: http://127.0.0.1:9/data/books/g1/g1.zip)", 0),
            0u)
      << shown[0];
}

TEST_F(BookOperationsTest, UninstallRemovesTheBookAndRefusesOperationsUntilDone) {
  RecordPtr record = AddRecord(kBookInstalled);
  ASSERT_EQ(SaveRecord(*record), 0);
  std::string install_dir = InstallDirectoryOf(*record);
  ASSERT_TRUE(CreateDirectoryTree(install_dir + "/pages"));
  WriteFile(install_dir.substr(dir().size() + 1) + "/pages/p1.html", "page");

  record->uninstalling = true;  // as while a first uninstall runs
  EXPECT_EQ(BookOperate(*collection_, "b1", "uninstall").message, kUninstallingMessage);
  record->uninstalling = false;

  ASSERT_EQ(BookOperate(*collection_, "b1", "uninstall").code, 0);
  collection_->WaitForWorkers();
  EXPECT_FALSE(FileExists(install_dir));
  EXPECT_EQ(record->Status(), 0u);
  EXPECT_FALSE(record->uninstalling.load());
  // Written again, with nothing installed.
  EXPECT_TRUE(FileExists(RecordPath("g1")));
  std::vector<std::string> shown = owner_.Shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], std::string("tip:") + kUninstallTip);
  EXPECT_EQ(shown[1], "tip hidden");
}

}  // namespace
