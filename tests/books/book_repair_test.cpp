// Starting a repair: which books can be repaired, and that the download is
// pointed at the installed package, not the newest, keeping or dropping a
// partial package on disk as it belongs to that target or not. The whole
// repair over HTTP is in the admin tool's tests.
#include "books/book_repair.h"

#include <gtest/gtest.h>

#include "books/book_paths.h"
#include "books/book_results.h"
#include "tests/support/program_dir.h"
#include "util/file_io.h"

namespace {

class BookRepairTest : public testing_support::ProgramDirSandbox {
 protected:
  void SetUp() override {
    ProgramDirSandbox::SetUp();
    collection_ = std::make_unique<BookCollection>();
    collection_->catalogue().Store(
        "raw", {"b1", "g1", "Book", "images/g1.png", "", "", "", "books/g1/g1.zip", "reader"});
    record_ = std::make_shared<BookRecord>(collection_.get());
    record_->Update([](BookFields& f) {
      f.gid = f.bookID = "g1";
      f.bookURL = "books/g1/g1.zip";
      f.bookStatus = kBookInstalled;
      f.bookSize = 5000;
      f.bookPackageID = "ed1";
      f.bookMD5 = "11111111111111111111111111111111";
      f.last_bookPackageID = "ed2";
      f.last_bookMD5 = "22222222222222222222222222222222";
    });
    collection_->PutRecord("g1", record_);
    package_ = PackagePathOf(record_->Fields());
  }
  void TearDown() override {
    collection_.reset();
    ProgramDirSandbox::TearDown();
  }

  std::unique_ptr<BookCollection> collection_;
  RecordPtr record_;
  std::string package_;
};

TEST_F(BookRepairTest, TheDownloadIsPointedAtTheInstalledPackage) {
  const struct {
    const char* name;
    const char* downloading_id;  // what the last download was for
    bool partial_kept;
  } cases[] = {
      // A partial package of the newer edition would install that edition.
      {"after a partial upgrade", "ed2", false},
      // A repair cut short goes on where it stopped.
      {"after a partial repair", "ed1", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    record_->Update([&](BookFields& f) {
      f.downloading_bookPackageID = c.downloading_id;
      f.downloading_bookMD5 = c.downloading_id == std::string("ed1") ? f.bookMD5 : f.last_bookMD5;
      f.downloading_downloadedSize = 4000;
      f.downloading_bookSize = 9000;
    });
    ASSERT_TRUE(WriteWholeFile("abc", 3, package_));
    std::string message;
    ASSERT_TRUE(PrepareRepair(*record_, message)) << message;
    BookFields f = record_->Fields();
    EXPECT_EQ(f.downloading_bookPackageID, "ed1");
    EXPECT_EQ(f.downloading_bookMD5, f.bookMD5);
    EXPECT_EQ(f.downloading_bookSize, 5000u);
    EXPECT_EQ(f.downloading_downloadedSize, c.partial_kept ? 3u : 0u);
    EXPECT_EQ(FileExists(package_), c.partial_kept);
    EXPECT_EQ(f.bookStatus, kBookInstalled);
    // Saved, so that a killed repair is finished by the next start.
    BookRecord saved;
    ASSERT_EQ(LoadRecordFile(saved, RecordPath("g1")), 0);
    EXPECT_EQ(saved.Fields().downloading_bookPackageID, "ed1");
  }
}

TEST_F(BookRepairTest, OnlyAnInstalledBookNotInWorkIsRepaired) {
  const struct {
    const char* name;
    uint32_t status;
    const char* package_id;
    const char* message;
  } cases[] = {
      {"never installed", 0, "ed1", kRepairNotInstalledMessage},
      {"installed without a package", kBookInstalled, "", kRepairNotInstalledMessage},
      {"being installed", kBookDownloaded, "ed1", kInstallingUpgradeMessage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    record_->Update([&](BookFields& f) {
      f.bookStatus = c.status;
      f.bookPackageID = c.package_id;
      f.downloading_bookPackageID = "ed2";
    });
    BookOperationResult result = RepairBook(*collection_, "b1");
    EXPECT_EQ(result.code, kBookRefused);
    EXPECT_EQ(result.message, c.message);
    EXPECT_EQ(record_->Fields().downloading_bookPackageID, "ed2");
    EXPECT_FALSE(record_->HasDownloadWorker());
  }
  BookOperationResult unknown = RepairBook(*collection_, "b9");
  EXPECT_EQ(unknown.code, kBookRefused);
  EXPECT_EQ(unknown.message, kNoRecordOfflineMessage);
}

}  // namespace
