// The look at a book's files before its reader starts: the decision for
// each state of the book, and opening through the window's questions, with
// a real installed tree, its manifest and a real reader process.
#include "app/book_open_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <filesystem>

#include "app/reader_launch.h"
#include "books/book_collection.h"
#include "books/book_manifest.h"
#include "config/daily_log.h"
#include "tests/browser/scripted_window.h"
#include "tests/support/daily_log_text.h"
#include "tests/support/program_dir.h"
#include "util/file_io.h"
#include "util/path_names.h"

namespace {

namespace fs = std::filesystem;

InstalledBookCheck Checked(BookCondition condition, BookCheck check = {}) {
  InstalledBookCheck result;
  result.condition = condition;
  result.check = std::move(check);
  result.check.manifest_ok =
      condition == BookCondition::kIntact || condition == BookCondition::kDamaged;
  return result;
}

TEST(OpenDecision, OnlyMissingOrChangedFilesKeepABookFromOpening) {
  const struct {
    const char* name;
    InstalledBookCheck check;
    OpenDecision decision;
    size_t damaged;
  } cases[] = {
      {"intact", Checked(BookCondition::kIntact), OpenDecision::kOpen, 0},
      {"files missing", Checked(BookCondition::kDamaged, {{"a", "b"}, {}, {}, true}),
       OpenDecision::kOfferRepair, 2},
      {"a file changed", Checked(BookCondition::kDamaged, {{}, {"c"}, {}, true}),
       OpenDecision::kOfferRepair, 1},
      {"both", Checked(BookCondition::kDamaged, {{"a"}, {"c"}, {"x"}, true}),
       OpenDecision::kOfferRepair, 2},
      // Readers keep files of their own in the book.
      {"only extra files", Checked(BookCondition::kDamaged, {{}, {}, {"notes.txt"}, true}),
       OpenDecision::kOpen, 0},
      {"no manifest", Checked(BookCondition::kNoManifest), OpenDecision::kOpen, 0},
      {"manifest of another package", Checked(BookCondition::kOtherPackage), OpenDecision::kOpen,
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecideBeforeOpening(c.check), c.decision);
    EXPECT_EQ(DamagedFileCount(c.check), c.damaged);
  }
  EXPECT_EQ(RepairQuestion(3), "教材文件不完整（缺少或损坏 3 个文件），是否重新下载修复？");
}

TEST(OpenDecision, TheLogLineNamesWhatWasFoundOnOneLine) {
  EXPECT_EQ(OpenCheckLogLine("g1", Checked(BookCondition::kIntact)), "");
  EXPECT_EQ(OpenCheckLogLine("g1", Checked(BookCondition::kNoManifest)),
            "book check g1: no manifest");
  EXPECT_EQ(OpenCheckLogLine(
                "g1", Checked(BookCondition::kDamaged, {{"a\nforged line"}, {"b"}, {}, true})),
            "book check g1: damaged, 1 missing, 1 changed, 0 extra: missing a\\nforged line; "
            "changed b;");
}

class NoEvents : public WindowFrameEvents {
  void OnButton(int) override {}
  void OnAddressEnter() override {}
  void OnCloseRequest() override {}
  void OnTimer(int) override {}
};

uint32_t Crc(const std::string& data) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

constexpr const char kReaderScript[] =
    "#!/bin/sh\necho started >> \"$(dirname \"$0\")/starts.txt\"\nwhile :; do sleep 1; done\n";

// An installed book with its reader, made from a package as the
// installation makes it, and its manifest beside it.
class OpenCheckedBookTest : public testing_support::ProgramDirSandbox {
 protected:
  void SetUp() override {
    ProgramDirSandbox::SetUp();
    collection_ = std::make_unique<BookCollection>();
    // Nothing listens there: a repair's transfer fails at once.
    collection_->SetAddresses("", "http://127.0.0.1:9/data", "");
    std::vector<std::string> row(kCatalogueColumns);
    row[kColumnBsid] = "b1";
    row[kColumnGid] = "g1";
    collection_->catalogue().Store("raw", row);
    record_ = std::make_shared<BookRecord>(collection_.get());
    record_->Update([](BookFields& f) {
      f.gid = f.bookID = "g1";
      f.bookStatus = kBookInstalled;
      f.bookURL = "books/g1/g1.zip";
      f.bookReader = "bin/reader.sh";
      f.bookPackageID = "pkg";
      f.bookMD5 = "0123456789abcdef0123456789abcdef";
      f.bookSize = 1000;
    });
    collection_->PutRecord("g1", record_);
    install_dir_ = InstallDirectoryOf(*record_);
    reader_ = ReaderPathOf(*record_);
    ASSERT_TRUE(CreateParentDirectories(reader_));
    ASSERT_TRUE(WriteWholeFile(kReaderScript, sizeof kReaderScript - 1, reader_));
    chmod(reader_.c_str(), 0755);
    ASSERT_TRUE(WriteWholeFile("page", 4, install_dir_ + "/page.html"));
    std::vector<ManifestEntry> entries = {
        {"bin/reader.sh", sizeof kReaderScript - 1, Crc(kReaderScript), false},
        {"page.html", 4, Crc("page"), false},
    };
    ASSERT_TRUE(WriteBookManifest(ManifestPathFor(install_dir_), "pkg", entries));
  }
  void TearDown() override {
    readers_.TerminateAll();
    collection_.reset();
    ProgramDirSandbox::TearDown();
  }

  bool Open() {
    ReaderLaunchContext context{*collection_, readers_, &frame_, "pupil"};
    return OpenBookInReader(context, "b1");
  }

  std::unique_ptr<BookCollection> collection_;
  RecordPtr record_;
  ReaderProcessTable readers_;
  NoEvents events_;
  ScriptedFrame frame_{events_};
  std::string install_dir_, reader_;
};

TEST_F(OpenCheckedBookTest, AnIntactBookOpensWithoutAQuestion) {
  EXPECT_TRUE(Open());
  EXPECT_TRUE(frame_.messages.empty());
  EXPECT_EQ(readers_.size(), 1u);
  // The hand-over file the opening wrote into the book is no damage, not
  // even to the full check.
  ASSERT_TRUE(fs::exists(install_dir_ + "/bin/system/reader.sh.ini"));
  EXPECT_EQ(CheckRecordedBook(*record_, CheckDepth::kFull).condition, BookCondition::kIntact);
}

TEST_F(OpenCheckedBookTest, ABookWithoutManifestOpensAsBefore) {
  fs::remove(ManifestPathFor(install_dir_));
  fs::remove(install_dir_ + "/page.html");
  EXPECT_TRUE(Open());
  EXPECT_TRUE(frame_.messages.empty());
  EXPECT_NE(testing_support::DailyLogText().find("book check g1: no manifest"), std::string::npos);
}

TEST_F(OpenCheckedBookTest, ADamagedBookIsNotOpenedButOfferedARepair) {
  fs::remove(install_dir_ + "/page.html");

  frame_.answers = {kMessageBoxAnswerNo};
  EXPECT_FALSE(Open());
  ASSERT_EQ(frame_.messages, std::vector<std::string>{
                                 "提示|教材文件不完整（缺少或损坏 1 个文件），是否重新下载修复？"});
  EXPECT_EQ(readers_.size(), 0u);
  EXPECT_FALSE(record_->HasDownloadWorker());
  EXPECT_NE(testing_support::DailyLogText().find("book check g1: damaged, 1 missing, 0 changed, 0 extra: missing page.html;"),
            std::string::npos)
      << testing_support::DailyLogText();

  // Yes: the installed package is fetched again, by the book's worker.
  frame_.answers = {kMessageBoxAnswerYes};
  record_->Update([](BookFields& f) { f.last_bookPackageID = "newer"; });
  EXPECT_FALSE(Open());
  EXPECT_EQ(readers_.size(), 0u);
  collection_->WaitForAllWork();
  BookFields f = record_->Fields();
  EXPECT_EQ(f.downloading_bookPackageID, "pkg");
  EXPECT_EQ(f.downloading_bookMD5, f.bookMD5);
  // The transfer found no server; the book stays as it was, installed.
  EXPECT_EQ(record_->Message().rfind("下载出错(1)", 0), 0u) << record_->Message();
  EXPECT_EQ(f.bookStatus, kBookInstalled);
}

}  // namespace
