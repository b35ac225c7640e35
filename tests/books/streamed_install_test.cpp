// A book's download over real HTTP, unpacked while it arrives and swapped
// in whole: the installed tree must be what unpacking the package gives,
// also after a resume and when the server ignores the range; and an upgrade
// that fails at any stage must leave the edition installed before, with its
// record saying so and the failure's own message.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "books/book_collection.h"
#include "books/book_install.h"
#include "books/book_manifest.h"
#include "books/book_operations.h"
#include "books/book_paths.h"
#include "books/book_results.h"
#include "books/package_download.h"
#include "config/daily_log.h"
#include "config/data_server_record.h"
#include "config/parameter_store.h"
#include "tests/support/daily_log_text.h"
#include "tests/support/loopback_server.h"
#include "tests/support/program_dir.h"
#include "tests/support/refusing_port.h"
#include "tests/zip/zip_test_support.h"
#include "util/md5.h"
#include "zip/extract_archive.h"

namespace {

using namespace zip_testing;
namespace fs = std::filesystem;

constexpr const char kPackagePath[] = "/data/books/g1.zip";

std::map<std::string, std::string> TreeOf(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
    std::string path = it->path().string();
    tree[fs::relative(it->path(), root).string()] =
        it->is_directory() ? "dir " + std::to_string(ModeOf(path))
                           : std::to_string(ModeOf(path)) + " " +
                                 std::to_string(ModifiedTime(path)) + " " +
                                 testing_support::ReadBytes(path);
  }
  return tree;
}

std::string Md5Of(const std::string& bytes) {
  MD5Computer md5;
  std::string digest;
  EXPECT_TRUE(md5.TextMD5(digest, bytes));
  return digest;
}

// Pages enough that the transfer comes in many pieces.
std::string NewEdition() {
  std::vector<ZipEntrySpec> entries = {DirectoryEntry("pages/")};
  for (int i = 0; i < 40; ++i) {
    entries.push_back(Entry("pages/p" + std::to_string(i) + ".txt", TextBytes(40000 + i)));
    entries.push_back(Entry("pages/i" + std::to_string(i) + ".bin", NoiseBytes(30000, i),
                            ZipEntrySpec::Method::kStored));
  }
  ZipEntrySpec reader = Entry("bin/reader", "#!/bin/sh\n");
  reader.unix_mode = 0755;
  entries.push_back(reader);
  return MakeZip(entries);
}

class StreamedInstallTest : public testing_support::ProgramDirSandbox {
 protected:
  enum class Serving { kWhole, kIgnoringRanges, kDroppingHalfway };

  void SetUp() override {
    ProgramDirSandbox::SetUp();
    package_ = NewEdition();
    server_.server().Get(kPackagePath, [this](const httplib::Request& req,
                                              httplib::Response& res) {
      if (serving_ == Serving::kDroppingHalfway) {
        size_t half = package_.size() / 2;
        res.set_content_provider(package_.size(), "application/zip",
                                 [this, half](size_t offset, size_t, httplib::DataSink& sink) {
                                   if (offset >= half) return false;
                                   sink.write(package_.data() + offset, half - offset);
                                   return true;
                                 });
        return;
      }
      // The library answers a range itself unless the request has none.
      if (serving_ == Serving::kIgnoringRanges) const_cast<httplib::Request&>(req).ranges.clear();
      res.set_content(package_, "application/zip");
    });
    server_.Start();
    collection_ = std::make_unique<BookCollection>();
    collection_->SetAddresses("", server_.Url("/data"), "");
    collection_->SetFreeSpaceQuery([this](const std::string&, uint64_t& free_mb) {
      free_mb = free_mb_;
      return true;
    });
    record_ = std::make_shared<BookRecord>(collection_.get());
    BookFields f;
    f.gid = f.bookID = "g1";
    f.bookURL = "books/g1.zip";
    f.bookStatus = kBookInstalled;
    f.bookPackageID = "old";
    f.bookMD5 = "0123456789abcdef0123456789abcdef";
    f.downloading_bookPackageID = f.last_bookPackageID = "g1";
    f.downloading_bookMD5 = f.last_bookMD5 = Md5Of(package_);
    f.downloading_bookSize = static_cast<uint32_t>(package_.size());
    record_->SetFields(f);
    install_dir_ = InstallDirPath(PackagePathOf(f));
    fs::create_directories(install_dir_);
    testing_support::WriteBytes(install_dir_ + "/old.txt", "old edition");
    ASSERT_TRUE(WriteBookManifest(ManifestPathFor(install_dir_), "old",
                                  {{"old.txt", 11, CrcOf("old edition", 0, 11), false}}));
  }
  void TearDown() override {
    collection_.reset();
    server_.Stop();
    ProgramDirSandbox::TearDown();
  }

  // The package's tree as unpacking the whole file makes it.
  std::map<std::string, std::string> Expected() {
    WriteFile("reference.zip", package_);
    std::string message;
    EXPECT_EQ(ExtractArchive(Path("reference.zip"), Path("reference"), message), kExtractOk);
    return TreeOf(Path("reference"));
  }
  void ExpectOldEditionKept() {
    BookFields f = record_->Fields();
    EXPECT_EQ(f.bookStatus, kBookInstalled);
    EXPECT_EQ(f.bookPackageID, "old");
    EXPECT_EQ(TreeOf(install_dir_).size(), 1u);
    EXPECT_EQ(testing_support::ReadBytes(install_dir_ + "/old.txt"), "old edition");
    EXPECT_FALSE(fs::exists(install_dir_ + ".staging"));
    EXPECT_FALSE(fs::exists(install_dir_ + ".old"));
    // Its manifest stays, and the book checks out against it.
    EXPECT_TRUE(
        CheckInstalledBook(install_dir_, ManifestPathFor(install_dir_), CheckDepth::kFull).Intact());
  }

  std::string package_;
  Serving serving_ = Serving::kWhole;
  uint64_t free_mb_ = 10000;
  testing_support::LoopbackServer server_;
  std::unique_ptr<BookCollection> collection_;
  RecordPtr record_;
  std::string install_dir_;
};

TEST_F(StreamedInstallTest, StreamedUpgradeEqualsTheUnpackedPackage) {
  const struct {
    const char* label;
    size_t already_here;  // bytes of the package on disk from an earlier run
    Serving serving;
    bool streamed;
  } kCases[] = {
      {"a fresh transfer", 0, Serving::kWhole, true},
      {"a resumed transfer", 1000003, Serving::kWhole, true},
      {"a server that ignores the range", 1000003, Serving::kIgnoringRanges, false},
  };
  const auto expected = Expected();
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(GetLogDirectoryPath());
    serving_ = c.serving;
    record_->Update([&](BookFields& f) {
      f.bookStatus = kBookInstalled;
      f.bookPackageID = "old";
      f.downloading_downloadedSize = static_cast<uint32_t>(c.already_here);
    });
    fs::remove_all(install_dir_);
    testing_support::WriteBytes(install_dir_ + "/old.txt", "old edition");
    if (c.already_here > 0)
      testing_support::WriteBytes(PackagePathOf(record_->Fields()),
                                  package_.substr(0, c.already_here));

    DownloadWorker(*record_);
    EXPECT_EQ(record_->Message(), "");
    EXPECT_EQ(record_->Fields().bookStatus, kBookInstalled);
    EXPECT_EQ(record_->Fields().bookPackageID, "g1");
    EXPECT_EQ(TreeOf(install_dir_), expected);
    // The new edition's manifest came with it.
    std::string listed_package;
    std::vector<ManifestEntry> listed;
    EXPECT_TRUE(ReadBookManifest(ManifestPathFor(install_dir_), listed_package, listed));
    EXPECT_EQ(listed_package, "g1");
    EXPECT_TRUE(
        CheckInstalledBook(install_dir_, ManifestPathFor(install_dir_), CheckDepth::kFull).Intact());
    EXPECT_FALSE(fs::exists(PackagePathOf(record_->Fields())));
    EXPECT_FALSE(fs::exists(install_dir_ + ".staging"));
    EXPECT_FALSE(fs::exists(install_dir_ + ".old"));
    EXPECT_EQ(testing_support::DailyLogText().find("unpacking") == std::string::npos, c.streamed) << testing_support::DailyLogText();
  }
}

TEST_F(StreamedInstallTest, FailedUpgradeKeepsTheInstalledEdition) {
  const std::string good = package_;
  std::string bad_crc = good;  // damaged data, published with its digest
  size_t first_data = kLocalHeaderSize + GetLe(good, 26, 2) + GetLe(good, 28, 2);
  ASSERT_EQ(GetLe(good, 26, 2), 6u);  // "pages/"
  size_t second = first_data;         // the directory entry has no data
  size_t data = second + kLocalHeaderSize + GetLe(good, second + 26, 2) + GetLe(good, second + 28, 2);
  bad_crc[data + 100] ^= 0x55;
  std::string renamed = good;  // the directory names another file than the headers
  std::vector<size_t> central = CentralHeaderOffsets(renamed);
  renamed[central[1] + kCentralHeaderSize + 6] = 'q';

  const std::string bad_digest_message = "数据包有错，请重试";
  const struct {
    const char* label;
    std::string package;
    bool wrong_digest;
    Serving serving;
    uint64_t free_mb;
    int result;
    std::string message_head;
  } kCases[] = {
      {"wrong digest", good, true, Serving::kWhole, 10000, kBookRefused, bad_digest_message},
      {"dropped transfer, no retries left", good, false, Serving::kDroppingHalfway, 10000, -1,
       "下载出错(1)"},
      {"damaged entry", bad_crc, false, Serving::kWhole, 10000, kExtractEntryFailed,
       "数据包解压出错(1)，"},
      {"directory that disagrees", renamed, false, Serving::kWhole, 10000, kExtractFailedException,
       std::string("数据包解压出错(1)，") + kExtractExceptionPrefix},
      {"too little space", good, false, Serving::kWhole, 0, kBookNoDiskSpace,
       "硬盘空间不够"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    package_ = c.package;
    serving_ = c.serving;
    free_mb_ = c.free_mb;
    record_->Update([&](BookFields& f) {
      f.bookStatus = kBookInstalled | kBookDownloading;
      f.bookPackageID = "old";
      f.downloading_downloadedSize = 0;
      f.downloading_bookMD5 = c.wrong_digest ? std::string(32, 'f') : Md5Of(c.package);
      f.downloading_bookSize = static_cast<uint32_t>(c.package.size());
    });
    record_->ResetErrorCount();
    std::remove(PackagePathOf(record_->Fields()).c_str());

    int result = DownloadAndInstall(*record_);
    if (c.result != -1) {
      EXPECT_EQ(result, c.result);
    }
    EXPECT_EQ(record_->Message().rfind(c.message_head, 0), 0u) << record_->Message();
    record_->ClearStatusBits(kBookDownloading);  // as the worker does
    ExpectOldEditionKept();
  }
}

// Of two mirrors, one refuses connections: once it has failed, the
// downloads that follow go to the other one without trying it again.
TEST_F(StreamedInstallTest, AMirrorThatRefusesIsLeftOutAfterItFailed) {
  DataServerRecord::Instance().Clear();
  const std::string refusing = "127.0.0.1:" + std::to_string(testing_support::RefusingPort());
  const std::string working = "127.0.0.1:" + std::to_string(server_.port());
  // The refusing one carries most of the weight: without the back-off
  // nearly every download would try it first.
  SetParameter("serverlist", "dat#down#1#9#" + refusing + ";dat#up#1#1#" + working);
  collection_->SetAddresses("", "http://127.0.0.1:1/data", "");
  for (int run = 0; run < 6; ++run) {
    SCOPED_TRACE("download " + std::to_string(run));
    record_->Update([](BookFields& f) {
      f.bookStatus = kBookInstalled;
      f.bookPackageID = "old";
      f.downloading_downloadedSize = 0;
    });
    DownloadWorker(*record_);
    EXPECT_EQ(record_->Fields().bookPackageID, "g1") << record_->Message();
  }
  std::string log = testing_support::DailyLogText();
  size_t failures = 0;
  for (size_t at = log.find(refusing + " failed"); at != std::string::npos;
       at = log.find(refusing + " failed", at + 1))
    ++failures;
  EXPECT_LE(failures, 1u) << log;
  EXPECT_NE(log.find("skipped " + refusing), std::string::npos) << log;
  DataServerRecord::Instance().Clear();
}

}  // namespace
