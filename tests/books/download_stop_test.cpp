// Stopping a running download, by the page's stopDownload and by an
// uninstall, against a server that sends its package slowly.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "books/book_operations.h"
#include "books/book_paths.h"
#include "books/book_results.h"
#include "books/recovery.h"
#include "tests/support/loopback_server.h"
#include "tests/support/program_dir.h"
#include "util/file_io.h"

namespace {

using testing_support::WaitFor;

constexpr size_t kPackageSize = 64 << 20;
constexpr size_t kPiece = 16 << 10;

class DownloadStopTest : public testing_support::ProgramDirSandbox {
 protected:
  void SetUp() override {
    ProgramDirSandbox::SetUp();
    // A piece every few milliseconds: far longer in all than any test runs.
    server_.server().Get(
        "/data/books/g1.zip", [this](const httplib::Request&, httplib::Response& res) {
          res.set_content_provider(kPackageSize, "application/zip",
                                   [this](size_t, size_t, httplib::DataSink& sink) {
                                     if (closing_) return false;
                                     std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                     std::string piece(kPiece, 'p');
                                     return sink.write(piece.data(), piece.size());
                                   });
        });
    server_.Start();
    collection_ = std::make_unique<BookCollection>();
    collection_->SetOwner([this](OwnerRequest request) {
      if (request == OwnerRequest::kShowMessageBox) ++messages_;
    });
    collection_->SetAddresses("", server_.Url("/data"), "");
    collection_->catalogue().Store("raw",
                                   {"b1", "g1", "Book", "", "", "", "", "books/g1.zip", "reader"});
    record_ = std::make_shared<BookRecord>(collection_.get());
    BookFields f;
    f.gid = f.bookID = "g1";
    f.bookURL = "books/g1.zip";
    f.bookPackageID = f.downloading_bookPackageID = f.last_bookPackageID = "g1";
    f.bookMD5 = f.downloading_bookMD5 = f.last_bookMD5 = std::string(32, 'a');
    record_->SetFields(f);
    collection_->PutRecord("g1", record_);
  }
  void TearDown() override {
    closing_ = true;
    collection_.reset();
    record_.reset();
    server_.Stop();
    ProgramDirSandbox::TearDown();
  }

  void StartAndWaitForBytes() {
    ASSERT_EQ(BookOperate(*collection_, "b1", "download").code, 0);
    ASSERT_TRUE(WaitFor([this] { return record_->Fields().downloading_downloadedSize > 0; },
                        std::chrono::seconds(30)));
    EXPECT_TRUE(record_->Status() & kBookDownloading);
  }

  testing_support::LoopbackServer server_;
  std::atomic<bool> closing_{false};
  std::unique_ptr<BookCollection> collection_;
  RecordPtr record_;
  std::atomic<int> messages_{0};
};

TEST_F(DownloadStopTest, StopDownloadEndsTheTransferAndKeepsWhatArrived) {
  StartAndWaitForBytes();
  ASSERT_EQ(BookOperate(*collection_, "b1", "stopDownload").code, 0);
  EXPECT_FALSE(record_->IsDownloadWorkerRunning());
  EXPECT_EQ(record_->Status() & kBookDownloading, 0u);
  // Stopped by the user: nothing to tell.
  EXPECT_EQ(messages_.load(), 0);
  uint64_t kept = 0;
  ASSERT_TRUE(GetFileSizeOf(PackagePathOf(record_->Fields()), kept));
  EXPECT_GT(kept, 0u);
  EXPECT_LT(kept, kPackageSize);
  BookRecord saved;
  ASSERT_EQ(LoadRecordFile(saved, RecordPath("g1")), 0);
  EXPECT_EQ(saved.Status(), 0u);
}

TEST_F(DownloadStopTest, UninstallStopsTheDownloadFirstAndLeavesARecordOfNothing) {
  StartAndWaitForBytes();
  ASSERT_EQ(BookOperate(*collection_, "b1", "uninstall").code, 0);
  EXPECT_EQ(BookOperate(*collection_, "b1", "download").message, kUninstallingMessage);
  collection_->WaitForWorkers();
  EXPECT_FALSE(record_->IsDownloadWorkerRunning());
  EXPECT_FALSE(FileExists(PackagePathOf(record_->Fields())));
  BookRecord saved;
  ASSERT_EQ(LoadRecordFile(saved, RecordPath("g1")), 0);
  EXPECT_EQ(saved.Status(), 0u);
  EXPECT_EQ(saved.Fields().downloading_downloadedSize, 0u);
}

// Killed while the files go, the next start must find nothing installed
// over half a book: at the first deletion the record on disk says so.
TEST_F(DownloadStopTest, AnUninstalledBookIsNotInstalledOnDiskBeforeItsFilesGo) {
  struct Case {
    const char* name;
    bool upgrading;  // a download of a newer edition runs when it starts
  } cases[] = {{"installed book", false}, {"upgrade under way", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    record_->Update([&](BookFields& f) {
      f.bookStatus = kBookInstalled;
      f.bookPackageID = c.upgrading ? "g0" : "g1";
      f.downloading_downloadedSize = 0;
    });
    ASSERT_EQ(SaveRecord(*record_), 0);
    std::string install_dir = InstallDirectoryOf(*record_);
    ASSERT_TRUE(CreateDirectoryTree(install_dir + "/pages"));
    if (c.upgrading) {
      ASSERT_EQ(BookOperate(*collection_, "b1", "upgrade").code, 0);
      ASSERT_TRUE(WaitFor([this] { return record_->Fields().downloading_downloadedSize > 0; },
                          std::chrono::seconds(30)));
    }
    std::string on_disk = "hook not called";
    collection_->SetUninstallHook([&](const BookRecord&) {
      BookRecord saved;
      on_disk = LoadRecordFile(saved, RecordPath("g1")) == 0 ? std::to_string(saved.Status())
                                                             : std::string("no record");
      if (!FileExists(install_dir)) on_disk += ", files already gone";
    });
    ASSERT_EQ(BookOperate(*collection_, "b1", "uninstall").code, 0);
    collection_->WaitForWorkers();
    collection_->SetUninstallHook(nullptr);
    EXPECT_TRUE(on_disk == "0" || on_disk == "no record") << on_disk;
    EXPECT_FALSE(FileExists(install_dir));
    BookRecord saved;
    ASSERT_EQ(LoadRecordFile(saved, RecordPath("g1")), 0);
    EXPECT_EQ(saved.Status(), 0u);
  }
}

// A sign-in clears the records and loads them again; the exit ends the
// work too. Neither is the user's stop: the download must go on from the
// record on disk, as after a kill.
TEST_F(DownloadStopTest, ClearingTheRecordsSuspendsTheDownloadAndTheNextLoadResumesIt) {
  StartAndWaitForBytes();
  collection_->ClearRecords();
  EXPECT_FALSE(record_->IsDownloadWorkerRunning());
  BookRecord saved;
  ASSERT_EQ(LoadRecordFile(saved, RecordPath("g1")), 0);
  EXPECT_TRUE(saved.Status() & kBookDownloading) << "the owed download was forgotten";
  EXPECT_EQ(messages_.load(), 0);

  uint64_t kept = 0;
  ASSERT_TRUE(GetFileSizeOf(PackagePathOf(record_->Fields()), kept));
  // What the start for a user does with the records, on the addresses the
  // fixture gave.
  collection_->SetRecoveryStarter(
      [this](const RecordPtr& record) { StartRecoveryWorker(*collection_, record); });
  LoadAllRecords(*collection_);
  RecordPtr reloaded = collection_->FindRecord("g1");
  ASSERT_TRUE(reloaded);
  EXPECT_TRUE(WaitFor([&] { return reloaded->Fields().downloading_downloadedSize > kept; },
                      std::chrono::seconds(30)))
      << "the download did not go on after the records were loaded again";
  EXPECT_TRUE(reloaded->Status() & kBookDownloading);
}

TEST_F(DownloadStopTest, DestroyingTheCollectionStopsItsDownloads) {
  StartAndWaitForBytes();
  collection_.reset();
  EXPECT_FALSE(record_->IsDownloadWorkerRunning());
}

}  // namespace
