// Installation of a verified package: the state table, the space check and
// the messages, on real packages and directories.
#include "books/book_install.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "books/book_collection.h"
#include "books/book_results.h"
#include "tests/support/program_dir.h"
#include "tests/zip/zip_test_support.h"
#include "zip/extract_archive.h"
#include "zip/zip_archive.h"

namespace {

using namespace zip_testing;

// The size the record gives the download; the space check no longer
// follows it but what the package's entries declare.
constexpr uint32_t kPackageSize = 100u << 20;

class BookInstallTest : public testing_support::ProgramDirSandbox {
 protected:
  void SetUp() override {
    ProgramDirSandbox::SetUp();
    collection_ = std::make_unique<BookCollection>();
    collection_->SetOwner([this](OwnerRequest r) { requests_.push_back(r); });
    collection_->SetFreeSpaceQuery([this](const std::string& path, uint64_t& free_mb) {
      queried_paths_.push_back(path);
      free_mb = free_mb_;
      return true;
    });
    record_ = std::make_shared<BookRecord>(collection_.get());
    record_->Update([](BookFields& f) {
      f.gid = f.bookID = "10101";
      f.bookURL = "data/jc/7/10101.zip";
      f.bookStatus = kBookDownloaded | kBookDownloading | kBookInstalled;
      f.bookPackageID = "old";
      f.downloading_bookPackageID = "new";
      f.downloading_bookMD5 = "0123456789abcdef0123456789abcdef";
      f.downloading_bookSize = kPackageSize;
      f.downloading_downloadedSize = kPackageSize;
    });
    WriteFile(kInstallDir + "/old.txt", "old content");
  }
  void Package(const std::string& bytes) { WriteFile(kPackage, bytes); }

  const std::string kPackage = "data/books/jc/7/10101.zip";
  const std::string kInstallDir = "data/books/jc/7/10101";
  std::unique_ptr<BookCollection> collection_;
  RecordPtr record_;
  uint64_t free_mb_ = 10000;
  std::vector<OwnerRequest> requests_;
  std::vector<std::string> queried_paths_;
};

TEST_F(BookInstallTest, SpaceNeeded) {
  const struct {
    uint64_t size;
    uint64_t mb;
  } kCases[] = {{0, 0},
                {1, 1},
                {(1u << 20) - 1, 1},
                {1u << 20, 1},
                {(1u << 20) + 1, 2},
                {100u << 20, 100},
                {0xffffffffu, 4096},
                {3 * 0xffffffffull, 12288}};
  for (const auto& c : kCases) EXPECT_EQ(SpaceNeededMB(c.size), c.mb) << c.size;
}

TEST_F(BookInstallTest, InstallsAndRecordsTheNewPackage) {
  Package(MakeZip({Entry("index.html", "<html>"), Entry("bin/reader", "#!/bin/sh\n")}));
  free_mb_ = 1;  // exactly enough for the 16 bytes the entries declare
  ASSERT_EQ(InstallPackage(*record_), kBookOk) << record_->Message();
  BookFields f = record_->Fields();
  EXPECT_EQ(f.bookStatus, kBookInstalled);
  EXPECT_EQ(f.bookPackageID, "new");
  EXPECT_EQ(f.bookMD5, "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(f.bookSize, kPackageSize);
  EXPECT_FALSE(Exists(kPackage));
  EXPECT_FALSE(Exists(kInstallDir + "/old.txt"));
  EXPECT_EQ(ReadFile(kInstallDir + "/index.html"), "<html>");
  EXPECT_EQ(record_->Message(), "");
  EXPECT_EQ(queried_paths_.front(), dir());
}

TEST_F(BookInstallTest, TooLittleSpaceKeepsEverything) {
  Package(MakeZip({Entry("index.html", TextBytes(3u << 20))}));
  free_mb_ = 2;
  EXPECT_EQ(InstallPackage(*record_), kBookNoDiskSpace);
  EXPECT_EQ(record_->Fields().bookStatus, kBookInstalled);  // the old edition, still there
  EXPECT_EQ(record_->Message(), kNoDiskSpaceMessage);
  EXPECT_EQ(record_->ErrorCount(), 1);
  EXPECT_TRUE(Exists(kPackage));
  EXPECT_EQ(ReadFile(kInstallDir + "/old.txt"), "old content");
  EXPECT_EQ(record_->Fields().bookPackageID, "old");
}

// A small package may expand far beyond 1.5 times its size, and a large
// one need not: the space asked for is what the entries declare.
TEST_F(BookInstallTest, SpaceCheckFollowsTheDeclaredSizes) {
  const std::string pages = TextBytes(6u << 20);  // 6 MiB needed
  const struct {
    const char* label;
    uint32_t package_size;  // as the record has it
    uint64_t free_mb;
    int result;
  } kCases[] = {
      {"compressed well, exactly enough", 200000, 6, kBookOk},
      {"compressed well, one MiB short", 200000, 5, kBookNoDiskSpace},
      {"a record that says 100 MiB", kPackageSize, 6, kBookOk},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove_all(Path(kInstallDir));
    WriteFile(kInstallDir + "/old.txt", "old content");
    Package(MakeZip({Entry("index.html", "<html>"), Entry("b.txt", pages.substr(6))}));
    record_->Update([&](BookFields& f) {
      f.bookStatus = kBookDownloaded;
      f.downloading_bookSize = c.package_size;
    });
    free_mb_ = c.free_mb;
    EXPECT_EQ(InstallPackage(*record_), c.result) << record_->Message();
    EXPECT_EQ(Exists(kInstallDir + "/b.txt"), c.result == kBookOk);
    EXPECT_EQ(Exists(kInstallDir + "/old.txt"), c.result != kBookOk);
    EXPECT_EQ(Exists(kPackage), c.result != kBookOk);
  }
}

// An overlapping-entry package is damage: nothing of it reaches the
// install directory, and it is thrown away like any damaged package. The
// edition installed before stays.
TEST_F(BookInstallTest, OverlappingEntriesAreRefused) {
  std::string bytes = MakeZip({Entry("a.txt", TextBytes(100000)), Entry("b.txt", TextBytes(100000))});
  PutLe(bytes, CentralHeaderOffsets(bytes)[1] + 42, 4, 0);  // b.txt is a.txt's data again
  Package(bytes);
  EXPECT_EQ(InstallPackage(*record_), kExtractFailedException);
  EXPECT_EQ(record_->Message(), std::string("数据包解压出错(1)，") + kExtractExceptionPrefix);
  EXPECT_EQ(ReadFile(kInstallDir + "/old.txt"), "old content");
  EXPECT_FALSE(Exists(kInstallDir + ".staging"));
  EXPECT_FALSE(Exists(kPackage));
  EXPECT_EQ(record_->Fields().bookPackageID, "old");
  EXPECT_EQ(record_->Fields().bookStatus, kBookInstalled);
}

TEST_F(BookInstallTest, FailedExtractionThrowsThePackageAwayWhenSpaceIsLeft) {
  // "a" is a file, so "a/b.txt" cannot be written: an entry that fails.
  Package(MakeZip({Entry("a", "x"), Entry("a/b.txt", "y")}));
  EXPECT_EQ(InstallPackage(*record_), kExtractEntryFailed);
  std::string entry_message =
      dir() + "/" + kInstallDir + ".staging/a/b.txt" + kEntryWriteFailedTail;
  EXPECT_EQ(record_->Message(), "数据包解压出错(1)，" + entry_message);
  EXPECT_EQ(collection_->Message().text, kEntryFailedPrefix + entry_message);
  EXPECT_EQ(requests_, std::vector<OwnerRequest>{OwnerRequest::kShowMessageBox});
  BookFields f = record_->Fields();
  EXPECT_EQ(f.bookStatus, kBookInstalled);
  EXPECT_EQ(f.downloading_downloadedSize, 0u);
  EXPECT_EQ(f.bookPackageID, "old");
  EXPECT_FALSE(Exists(kPackage));
  EXPECT_EQ(ReadFile(kInstallDir + "/old.txt"), "old content");
  EXPECT_FALSE(Exists(kInstallDir + ".staging"));
}

TEST_F(BookInstallTest, FailedExtractionKeepsThePackageWhenSpaceIsShort) {
  Package(MakeZip({Entry("a", "x"), Entry("a/b.txt", "y")}));
  int query = 0;
  collection_->SetFreeSpaceQuery([&](const std::string&, uint64_t& free_mb) {
    free_mb = query++ == 0 ? 10000 : kKeepPackageBelowMB - 1;
    return true;
  });
  EXPECT_EQ(InstallPackage(*record_), kExtractEntryFailed);
  EXPECT_EQ(record_->Message(), "数据包解压出错(1),请检查硬盘空间");
  EXPECT_EQ(record_->Fields().bookStatus, kBookInstalled);
  EXPECT_EQ(record_->Fields().downloading_downloadedSize, kPackageSize);
  EXPECT_TRUE(Exists(kPackage));
  // Half an edition is removed; the old one is untouched.
  EXPECT_FALSE(Exists(kInstallDir + ".staging"));
  EXPECT_EQ(ReadFile(kInstallDir + "/old.txt"), "old content");
}

TEST_F(BookInstallTest, MissingPackageReportsTheFileError) {
  EXPECT_EQ(InstallPackage(*record_), kExtractFailedException);
  std::string message = record_->Message();
  std::string head =
      std::string("数据包解压出错(1)，") + kExtractExceptionPrefix + dir() + "/" + kPackage;
  EXPECT_EQ(message.rfind(head, 0), 0u) << message;
  EXPECT_TRUE(requests_.empty());
}

TEST_F(BookInstallTest, DamagedPackageGivesTheBareExceptionMessage) {
  Package(NoiseBytes(5000));
  EXPECT_EQ(InstallPackage(*record_), kExtractFailedException);
  EXPECT_EQ(record_->Message(), std::string("数据包解压出错(1)，") + kExtractExceptionPrefix);
}

TEST_F(BookInstallTest, StagingDirectoryThatCannotBeClearedIsReported) {
  Package(MakeZip({Entry("index.html", "<html>")}));
  WriteFile(kInstallDir + ".staging", "in the way");
  free_mb_ = kKeepPackageBelowMB;
  EXPECT_EQ(InstallPackage(*record_), kExtractDirectoryBusy);
  EXPECT_EQ(record_->Message(), std::string("数据包解压出错(1)，") + kDirectoryBusyMessage);
  EXPECT_EQ(record_->Fields().bookStatus, kBookInstalled);
  EXPECT_EQ(ReadFile(kInstallDir + "/old.txt"), "old content");
  EXPECT_FALSE(Exists(kPackage));  // 200 MiB or more were free
}

// A first installation has no edition to keep: a failure leaves nothing
// installed and no directory behind.
TEST_F(BookInstallTest, FailedFirstInstallationLeavesNoDirectory) {
  std::filesystem::remove_all(Path(kInstallDir));
  record_->Update([](BookFields& f) { f.bookStatus = kBookDownloaded; });
  Package(MakeZip({Entry("a", "x"), Entry("a/b.txt", "y")}));
  EXPECT_EQ(InstallPackage(*record_), kExtractEntryFailed);
  EXPECT_EQ(record_->Fields().bookStatus, 0u);
  EXPECT_FALSE(Exists(kInstallDir));
  EXPECT_FALSE(Exists(kInstallDir + ".staging"));
}

// A swap cut short by a kill leaves the old edition set aside: until the
// record names the new edition, the old one comes back.
TEST_F(BookInstallTest, EditionSetAsideByAnInterruptedSwapComesBack) {
  std::filesystem::rename(Path(kInstallDir), Path(kInstallDir + ".old"));
  WriteFile(kInstallDir + "/index.html", "half of the new edition");
  Package(MakeZip({Entry("a", "x"), Entry("a/b.txt", "y")}));  // fails again
  EXPECT_EQ(InstallPackage(*record_), kExtractEntryFailed);
  EXPECT_EQ(record_->Fields().bookStatus, kBookInstalled);
  EXPECT_EQ(ReadFile(kInstallDir + "/old.txt"), "old content");
  EXPECT_FALSE(Exists(kInstallDir + "/index.html"));
  EXPECT_FALSE(Exists(kInstallDir + ".old"));
}

TEST_F(BookInstallTest, InstallDirSpaceIsCheckedWhereTheBookGoes) {
  record_->Update([this](BookFields& f) { f.bookInstallDir = Path("elsewhere"); });
  std::filesystem::create_directories(Path("elsewhere/data/books/jc/7"));
  testing_support::WriteBytes(Path("elsewhere/data/books/jc/7/10101.zip"),
                              MakeZip({Entry("x", "y")}));
  ASSERT_EQ(InstallPackage(*record_), kBookOk) << record_->Message();
  EXPECT_EQ(queried_paths_.front(), Path("elsewhere"));
  EXPECT_EQ(ReadFile("elsewhere/data/books/jc/7/10101/x"), "y");
}

}  // namespace
