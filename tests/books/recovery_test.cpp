// Starting the collection for a user: interrupted downloads and
// installations found in the record files are finished, and an older
// client's files are converted once.
#include "books/recovery.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "app/sealed_file.h"
#include "app/tip_text.h"
#include "books/book_paths.h"
#include "books/book_results.h"
#include "books/package_download.h"
#include "books/package_list.h"
#include "tests/support/program_dir.h"
#include "util/file_io.h"
#include "util/md5.h"
#include "zip/zip_writer.h"

namespace {

std::string Package() {
  ZipEntrySpec entry;
  entry.name = "pages/p1.html";
  entry.data = "<p>page one</p>";
  return MakeZip({entry});
}

std::string DigestOf(const std::string& bytes) {
  MD5Computer md5;
  std::string digest;
  EXPECT_TRUE(md5.TextMD5(digest, bytes));
  return digest;
}

class RecoveryTest : public testing_support::ProgramDirSandbox {
 protected:
  void SetUp() override {
    ProgramDirSandbox::SetUp();
    collection_ = std::make_unique<BookCollection>();
  }
  void TearDown() override {
    collection_.reset();
    ProgramDirSandbox::TearDown();
  }

  // The record file a killed program left, with its package on disk.
  void LeaveInterruptedBook(uint32_t status, const std::string& package, uint32_t downloaded,
                            const std::string& digest) {
    BookRecord record;
    BookFields f;
    f.gid = f.bookID = "g7";
    f.bookStatus = status;
    f.bookURL = "books/g7/g7.zip";
    f.downloading_bookPackageID = f.last_bookPackageID = "g7";
    f.downloading_bookMD5 = f.last_bookMD5 = digest;
    f.downloading_bookSize = static_cast<uint32_t>(package.size());
    f.downloading_downloadedSize = downloaded;
    record.SetFields(f);
    ASSERT_EQ(SaveRecord(record), 0);
    package_path_ = PackagePathOf(f);
    WriteFile(package_path_.substr(dir().size() + 1), package);
  }

  OwnerPoster Recorder() {
    return [this](OwnerRequest request) {
      std::lock_guard<std::mutex> guard(lock_);
      if (request == OwnerRequest::kShowTip) shown_.push_back("tip:" + TipText());
      if (request == OwnerRequest::kHideTip) shown_.push_back("hidden");
      if (request == OwnerRequest::kShowMessageBox) shown_.push_back(collection_->Message().text);
    };
  }
  void Start() {
    StartForUser(*collection_, Recorder(), "u1");
    collection_->StopSyncThread();
    collection_->WaitForAllWork();
  }

  std::unique_ptr<BookCollection> collection_;
  std::string package_path_;
  std::mutex lock_;
  std::vector<std::string> shown_;
};

TEST_F(RecoveryTest, AVerifiedOrCompletePackageIsInstalledWithoutAnyTransfer) {
  const std::string package = Package();
  struct Case {
    const char* name;
    uint32_t status;
  } cases[] = {{"transfer had ended", kBookDownloading},
               {"verified", kBookDownloaded},
               {"upgrade had ended", kBookDownloading | kBookInstalled}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    collection_ = std::make_unique<BookCollection>();
    shown_.clear();
    // Upper-case digests, as some servers publish them, match too.
    std::string digest = DigestOf(package);
    for (char& ch : digest) ch = static_cast<char>(std::toupper(ch));
    LeaveInterruptedBook(c.status, package, static_cast<uint32_t>(package.size()), digest);
    Start();
    RecordPtr record = collection_->FindRecord("g7");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->Status(), kBookInstalled);
    EXPECT_EQ(ReadFile(InstallDirectoryOf(*record).substr(dir().size() + 1) + "/pages/p1.html"),
              "<p>page one</p>");
    EXPECT_FALSE(FileExists(package_path_));
    std::lock_guard<std::mutex> guard(lock_);
    EXPECT_EQ(shown_, (std::vector<std::string>{std::string("tip:") + kRecoveryTip, "hidden"}));
  }
}

TEST_F(RecoveryTest, ACompletePackageWithTheWrongDigestIsDroppedForAFreshDownload) {
  LeaveInterruptedBook(kBookDownloading, Package(), static_cast<uint32_t>(Package().size()),
                       std::string(32, '0'));
  Start();
  RecordPtr record = collection_->FindRecord("g7");
  ASSERT_TRUE(record);
  EXPECT_EQ(record->Status(), 0u);
  EXPECT_EQ(record->Fields().downloading_downloadedSize, 0u);
  EXPECT_EQ(record->Message(), kPackageDigestMismatchMessage);
  EXPECT_FALSE(FileExists(package_path_));
  // Saved so: the next start has nothing to recover.
  BookRecord saved;
  ASSERT_EQ(LoadRecordFile(saved, RecordPath("g7")), 0);
  EXPECT_EQ(saved.Status(), 0u);
}

TEST_F(RecoveryTest, RecordsWithoutInterruptedWorkAreLeftAlone) {
  LeaveInterruptedBook(kBookInstalled, "", 0, std::string(32, 'a'));
  Start();
  EXPECT_TRUE(shown_.empty());
  EXPECT_EQ(collection_->FindRecord("g7")->Status(), kBookInstalled);
}

// An older client's book list: plain text files (two leading blanks), as
// the sealed-file reader accepts them.
class LegacyMigrationTest : public RecoveryTest {
 protected:
  void LeaveLegacyFiles(const std::string& books) {
    WriteFile("data/u1/bsd.dat", "  {\"Books\":[" + books + "]}");
    WriteFile("data/u1/bs.dat", "  {\"not\":\"a catalogue\"}");
    std::string digest_file = PackagePath("data/jc/7/10101.zip", "10101", dir()) + ".MD5";
    WriteFile(digest_file.substr(dir().size() + 1), std::string(32, 'c'));
  }
  static std::string Book(const std::string& image, const std::string& installed,
                          const std::string& downloaded) {
    return "{\"bookInstalled\":\"" + installed + "\",\"baseImage\":\"" + image +
           "\",\"bsid\":\"b1\",\"bookURL\":\"data/jc/7/10101.zip\",\"bookReader\":\"r.exe\","
           "\"bookSize\":\"2000\",\"downloadSize\":\"" +
           downloaded + "\"}";
  }
};

TEST_F(LegacyMigrationTest, BooksAreConvertedUpToTheFirstBadOneAndTheFilesRetired) {
  LeaveLegacyFiles(Book("img/10101.png", "1", "") + "," + Book("img/cover.png", "1", ""));
  EXPECT_EQ(MigrateLegacyBookList(*collection_, "u1"), kBookRefused);

  BookRecord record;
  ASSERT_EQ(LoadRecordFile(record, RecordPath("10101")), 0);
  BookFields f = record.Fields();
  EXPECT_EQ(f.bookStatus, kBookInstalled);
  EXPECT_EQ(f.bookSize, 2000u);
  EXPECT_EQ(f.bookPackageID, "10101");
  EXPECT_EQ(f.last_bookMD5, std::string(32, 'c'));
  EXPECT_EQ(f.bookReader, "r.exe");
  std::string list;
  ASSERT_EQ(ReadSealedFile(PackageListPath("10101"), kRecordOuterByte, list), 0);
  EXPECT_EQ(list, "10101 " + std::string(32, 'c'));
  EXPECT_FALSE(FileExists(RecordPath("cover")));
}

TEST_F(LegacyMigrationTest, StartConvertsOnceAndKeepsOldCopies) {
  LeaveLegacyFiles(Book("img/10101.png", "0", "700"));
  Start();
  RecordPtr record = collection_->FindRecord("10101");
  ASSERT_TRUE(record);
  EXPECT_FALSE(FileExists(Path("data/u1/bsd.dat")));
  EXPECT_FALSE(FileExists(Path("data/u1/bs.dat")));
  EXPECT_TRUE(FileExists(Path("data/u1/bsd.dat.old")));
  EXPECT_TRUE(FileExists(Path("data/u1/bs.dat.old")));
  // It was downloading: recovery took it up (no server here, so it fails
  // and ends not downloading).
  EXPECT_EQ(record->Status() & kBookDownloading, 0u);

  // A second start finds nothing to convert: a removed record stays gone.
  collection_ = std::make_unique<BookCollection>();
  ASSERT_TRUE(std::remove(RecordPath("10101").c_str()) == 0);
  Start();
  EXPECT_FALSE(collection_->FindRecord("10101"));
}

}  // namespace
