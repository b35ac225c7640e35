// Starting the collection for a user: interrupted downloads and
// installations found in the record files are finished, and an older
// client's files are converted once.
#include "books/recovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "app/sealed_file.h"
#include "app/tip_text.h"
#include "books/book_operations.h"
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
  void Start(const std::string& uid = "u1") {
    StartForUser(*collection_, Recorder(), uid);
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

// What an installation killed at each step of its swap leaves beside the
// install directory, and what the next start makes of it: the edition the
// record names, whole, and nothing else.
TEST_F(RecoveryTest, EveryStateOfAnInterruptedSwapEndsWithOneEditionWhole) {
  const std::string package = Package();
  const struct {
    const char* label;
    uint32_t status;             // as saved
    const char* in_install_dir;  // "old" or "new" edition, or nothing
    const char* set_aside;       // the old edition set aside ("" none)
    bool staging;                // half of the new edition in the staging directory
  } kCases[] = {
      {"killed while unpacking", kBookDownloaded, "old", "", true},
      {"killed between the two renames", kBookDownloaded, nullptr, "old", true},
      {"killed before the record was saved", kBookDownloaded, "new", "old", false},
      {"killed after the record was saved", kBookInstalled, "new", "old", false},
      {"first installation killed while unpacking", kBookDownloaded, nullptr, "", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    collection_ = std::make_unique<BookCollection>();
    std::filesystem::remove_all(Path("data"));
    LeaveInterruptedBook(c.status, c.status == kBookInstalled ? "" : package,
                         static_cast<uint32_t>(package.size()), DigestOf(package));
    if (c.status == kBookInstalled) std::filesystem::remove(package_path_);
    const std::string install_dir = InstallDirPath(package_path_).substr(dir().size() + 1);
    if (c.in_install_dir)
      WriteFile(install_dir + (std::string(c.in_install_dir) == "old" ? "/old.txt" : "/pages/p1.html"),
                std::string(c.in_install_dir) == "old" ? "old" : "<p>page one</p>");
    if (*c.set_aside) WriteFile(install_dir + ".old/old.txt", "old");
    if (c.staging) WriteFile(install_dir + ".staging/pages/half.html", "half");

    Start();
    RecordPtr record = collection_->FindRecord("g7");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->Status(), kBookInstalled);
    EXPECT_EQ(ReadFile(install_dir + "/pages/p1.html"), "<p>page one</p>");
    EXPECT_FALSE(Exists(install_dir + "/old.txt"));
    EXPECT_FALSE(Exists(install_dir + "/pages/half.html"));
    EXPECT_FALSE(Exists(install_dir + ".old"));
    EXPECT_FALSE(Exists(install_dir + ".staging"));
  }
}

// Holds every installation at its free-space check until opened, and
// counts how many run at once.
class InstallGate {
 public:
  FreeSpaceQuery Query() {
    return [this](const std::string&, uint64_t& free_mb) {
      std::unique_lock<std::mutex> hold(lock_);
      ++entered_;
      most_inside_ = std::max(most_inside_, ++inside_);
      changed_.notify_all();
      changed_.wait(hold, [this] { return open_; });
      --inside_;
      free_mb = 1 << 20;
      return true;
    };
  }
  bool WaitEntered(int count) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(60), [&] { return entered_ >= count; });
  }
  void Open() {
    std::lock_guard<std::mutex> hold(lock_);
    open_ = true;
    changed_.notify_all();
  }
  int entered() {
    std::lock_guard<std::mutex> hold(lock_);
    return entered_;
  }
  int most_inside() {
    std::lock_guard<std::mutex> hold(lock_);
    return most_inside_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool open_ = false;
  int entered_ = 0;
  int inside_ = 0;
  int most_inside_ = 0;
};

// A verified package left by a killed run, whose recovery is held in the
// middle of its installation.
class RecoveryUnderWayTest : public RecoveryTest {
 protected:
  void SetUp() override {
    RecoveryTest::SetUp();
    collection_->SetFreeSpaceQuery(gate_.Query());
    collection_->catalogue().Store(
        "raw", {"b7", "g7", "Book", "", "", "", "", "books/g7/g7.zip", "reader"});
    const std::string package = Package();
    LeaveInterruptedBook(kBookDownloaded, package, static_cast<uint32_t>(package.size()),
                         DigestOf(package));
    StartForUser(*collection_, Recorder(), "u1");
    ASSERT_TRUE(gate_.WaitEntered(1));
    record_ = collection_->FindRecord("g7");
    ASSERT_TRUE(record_);
  }
  void TearDown() override {
    gate_.Open();
    record_.reset();
    RecoveryTest::TearDown();
  }
  void Finish() {
    collection_->StopSyncThread();
    collection_->WaitForAllWork();
  }

  InstallGate gate_;
  RecordPtr record_;
};

TEST_F(RecoveryUnderWayTest, ALoginWaitsForItAndNeverRunsASecondOneOnTheBook) {
  std::atomic<bool> cleared{false};
  // What a new login does to the collection.
  std::thread login([&] {
    collection_->ClearRecords();
    cleared = true;
    StartForUser(*collection_, Recorder(), "u1");
  });
  EXPECT_FALSE(
      testing_support::WaitFor([&] { return cleared.load(); }, std::chrono::milliseconds(500)))
      << "the records went while their recovery was still installing";
  gate_.Open();
  login.join();
  Finish();
  EXPECT_EQ(gate_.most_inside(), 1);
  EXPECT_EQ(gate_.entered(), 1) << "the book was installed twice";
  EXPECT_FALSE(record_->HasDownloadWorker());
  RecordPtr reloaded = collection_->FindRecord("g7");
  ASSERT_TRUE(reloaded);
  EXPECT_EQ(reloaded->Status(), kBookInstalled);
}

TEST_F(RecoveryUnderWayTest, AnUninstallWaitsForItThenRemovesTheBook) {
  ASSERT_EQ(BookOperate(*collection_, "b7", "uninstall").code, 0);
  EXPECT_FALSE(testing_support::WaitFor([&] { return !record_->uninstalling.load(); },
                                        std::chrono::milliseconds(500)))
      << "the uninstall ended while the recovery was still installing";
  gate_.Open();
  Finish();
  EXPECT_EQ(record_->Status(), 0u);
  EXPECT_FALSE(FileExists(InstallDirectoryOf(*record_)));
  EXPECT_FALSE(FileExists(package_path_));
  BookRecord saved;
  ASSERT_EQ(LoadRecordFile(saved, RecordPath("g7")), 0);
  EXPECT_EQ(saved.Status(), 0u);
}

TEST_F(RecoveryUnderWayTest, TheCollectionsEndWaitsForIt) {
  std::atomic<bool> ended{false};
  std::thread end([&] {
    collection_.reset();
    ended = true;
  });
  EXPECT_FALSE(
      testing_support::WaitFor([&] { return ended.load(); }, std::chrono::milliseconds(300)));
  gate_.Open();
  end.join();
  EXPECT_FALSE(record_->HasDownloadWorker());
  EXPECT_EQ(record_->Status(), kBookInstalled);
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

TEST_F(LegacyMigrationTest, AUidThatIsNoPlainFolderNameTouchesNoFilesOfItsOwn) {
  // What "../elsewhere" would name: P/elsewhere instead of a folder in data.
  WriteFile("elsewhere/bsd.dat", "  {\"Books\":[" + Book("img/10101.png", "1", "") + "]}");
  WriteFile("elsewhere/bs.dat", "  {\"not\":\"a catalogue\"}");
  std::string digest_file = PackagePath("data/jc/7/10101.zip", "10101", dir()) + ".MD5";
  WriteFile(digest_file.substr(dir().size() + 1), std::string(32, 'c'));
  Start("../elsewhere");
  EXPECT_TRUE(Exists("elsewhere/bsd.dat"));
  EXPECT_TRUE(Exists("elsewhere/bs.dat"));
  EXPECT_FALSE(Exists("elsewhere/bsd.dat.old"));
  EXPECT_FALSE(Exists("data/elsewhere"));
  EXPECT_FALSE(collection_->FindRecord("10101"));
}

}  // namespace
