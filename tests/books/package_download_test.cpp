// DownloadAndInstall on package files that look complete: they are
// installed only when they are the package the record expects.
#include "books/package_download.h"

#include <gtest/gtest.h>

#include "books/book_collection.h"
#include "books/book_paths.h"
#include "books/book_results.h"
#include "tests/support/loopback_server.h"
#include "tests/support/program_dir.h"
#include "util/file_io.h"
#include "util/md5.h"
#include "zip/zip_writer.h"

namespace {

class PackageDownloadTest : public testing_support::ProgramDirSandbox {
 protected:
  void SetUp() override {
    ProgramDirSandbox::SetUp();
    ZipEntrySpec entry;
    entry.name = "page.html";
    entry.data = "<p>the real page</p>";
    package_ = MakeZip({entry});
    MD5Computer md5;
    ASSERT_TRUE(md5.TextMD5(digest_, package_));
    server_.server().Get("/data/books/g1.zip",
                         [this](const httplib::Request&, httplib::Response& res) {
                           res.set_content(package_, "application/zip");
                         });
    server_.Start();
    collection_ = std::make_unique<BookCollection>();
    collection_->SetAddresses("", server_.Url("/data"), "");
  }
  void TearDown() override {
    collection_.reset();
    server_.Stop();
    ProgramDirSandbox::TearDown();
  }

  std::string package_;
  std::string digest_;
  testing_support::LoopbackServer server_;
  std::unique_ptr<BookCollection> collection_;
};

TEST_F(PackageDownloadTest, APackageThatOnlyLooksCompleteIsFetchedAgain) {
  struct Case {
    const char* name;
    bool file_present;
    std::string file;
    uint32_t downloaded;  // as the record counts it
    size_t transfers;
  } cases[] = {
      {"the right package", true, package_, static_cast<uint32_t>(package_.size()), 0},
      {"another file of the same size", true, std::string(package_.size(), 'j'),
       static_cast<uint32_t>(package_.size()), 1},
      {"counted complete, removed by hand", false, "", static_cast<uint32_t>(package_.size()), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BookRecord record(collection_.get());
    BookFields f;
    f.gid = f.bookID = "g1";
    f.bookURL = "books/g1.zip";
    f.downloading_bookPackageID = f.last_bookPackageID = "g1";
    f.downloading_bookMD5 = f.last_bookMD5 = digest_;
    f.downloading_bookSize = static_cast<uint32_t>(package_.size());
    f.downloading_downloadedSize = c.downloaded;
    f.bookStatus = kBookDownloading;
    record.SetFields(f);
    std::string path = PackagePathOf(f);
    std::remove(path.c_str());
    if (c.file_present) testing_support::WriteBytes(path, c.file);
    size_t before = server_.CountPath("/data/books/g1.zip");

    EXPECT_EQ(DownloadAndInstall(record), kBookOk) << record.Message();
    // The server notes a request once it has answered it.
    auto transfers = [&] { return server_.CountPath("/data/books/g1.zip") - before; };
    testing_support::WaitFor([&] { return transfers() >= c.transfers; });
    EXPECT_EQ(transfers(), c.transfers);
    EXPECT_EQ(record.Status(), kBookInstalled);
    EXPECT_EQ(ReadFile(InstallDirectoryOf(record).substr(dir().size() + 1) + "/page.html"),
              "<p>the real page</p>");
    EXPECT_FALSE(FileExists(path));
  }
}

}  // namespace
