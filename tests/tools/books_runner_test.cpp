// The headless books runner on a client's program directory against the demo
// service: synchronisation, download, upgrade, uninstall, transfers that
// break off, bad digests, servers that ignore ranges, and runs killed in the
// middle of their work.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <regex>

#include "platform/process.h"
#include "tests/support/books_tool_sandbox.h"
#include "tests/support/demo_service_process.h"
#include "tests/support/run_command.h"
#include "tests/support/sandbox.h"
#include "util/file_io.h"
#include "zip/zip_writer.h"

namespace {

using testing_support::CommandResult;
using testing_support::DemoServiceProcess;
using testing_support::RunCommand;

std::string Utf8(const char8_t* text) {
  return reinterpret_cast<const char*>(text);
}

bool PathExists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

class BooksRunnerTest : public testing_support::BooksToolSandbox {
 protected:
  // The plain text of a book's record file.
  std::string RecordText(const std::string& gid) {
    CommandResult r = Tool({"unseal", "--record", program_ + "/data/bookinf/" + gid + ".inf"});
    return r.exit_code == 0 ? r.out : std::string();
  }
  std::string RecordValue(const std::string& gid, const std::string& key) {
    std::smatch match;
    std::string text = RecordText(gid);
    if (!std::regex_search(text, match, std::regex("\"" + key + "\":\\s*\"([^\"]*)\""))) return {};
    return match[1];
  }
  // Nothing half-done may stay behind: no package, no temporary files.
  void ExpectNoLeftovers(const std::string& gid) {
    EXPECT_FALSE(PathExists(PackagePath(gid))) << gid;
    CommandResult find = RunCommand(
        "/usr/bin/find", {program_, "-name", "*.part", "-o", "-name", "*.tmp*", "-o", "-name",
                          "*.err", "-o", "-name", "*.staging", "-o", "-name", "*.old"});
    EXPECT_EQ(find.out, "") << "left over";
  }
  // The requests for a package, as the access log shows them once it has
  // at least count of them: the service writes a line after it answered,
  // so the last one may still be on its way when the client has ended.
  static std::vector<std::string> PackageRequests(const DemoServiceProcess& service,
                                                  const std::string& gid, size_t count = 0) {
    testing_support::WaitFor([&] { return LoggedRequests(service, gid).size() >= count; });
    return LoggedRequests(service, gid);
  }
  static std::vector<std::string> LoggedRequests(const DemoServiceProcess& service,
                                                 const std::string& gid) {
    std::vector<std::string> lines;
    std::string log = service.AccessLog();
    size_t at = 0;
    while (at < log.size()) {
      size_t end = log.find('\n', at);
      std::string line = log.substr(at, end - at);
      if (line.find("GET /data/books/" + gid + "/" + gid + ".zip ") == 0) lines.push_back(line);
      at = end == std::string::npos ? log.size() : end + 1;
    }
    return lines;
  }

};

TEST_F(BooksRunnerTest, SyncDownloadUpgradeAndUninstallABook) {
  DemoServiceProcess service;
  Serve(service);

  CommandResult sync = Books({"sync"});
  ASSERT_EQ(sync.exit_code, 0) << sync.err;
  EXPECT_NE(sync.out.find("sync: 1 (3 books"), std::string::npos) << sync.out;
  EXPECT_EQ(RecordValue("g1001", "bookStatus"), "0");
  EXPECT_EQ(RecordValue("g1001", "bookTitle"), Utf8(u8"数学 七年级 上册"));
  EXPECT_GT(ReadFile("program/images/g1001.png").size(), 0u);

  CommandResult download = Books({"download", "b1001"});
  ASSERT_EQ(download.exit_code, 0) << download.err;
  EXPECT_NE(download.out.find("g1001 installed g1001"), std::string::npos) << download.out;
  EXPECT_EQ(RecordValue("g1001", "bookStatus"), "16");
  EXPECT_EQ(ReadFile("program/data/books/books/g1001/g1001/edition.txt"), "edition 1\r\n");
  EXPECT_TRUE(Exists("program/data/books/books/g1001/g1001/content/pages/page1.html"));
  ExpectNoLeftovers("g1001");

  CommandResult again = Books({"download", "b1001"});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_NE(again.err.find(Utf8(u8"已是最新，无需升级，如需安装，请先卸载！")), std::string::npos)
      << again.err;

  // A newer edition is published: the next synchronisation offers it.
  CommandResult publish =
      RunCommand("/usr/bin/curl", {"-sf", "-d", "", service.Url("/demo/publish/g1001")});
  ASSERT_EQ(publish.exit_code, 0);
  std::string new_digest = publish.out.substr(0, 32);
  ASSERT_EQ(Books({"sync"}).exit_code, 0);
  EXPECT_EQ(RecordValue("g1001", "last_bookMD5"), new_digest);
  CommandResult status = Books({"status"});
  ASSERT_EQ(status.exit_code, 0) << status.err;
  EXPECT_NE(status.out.find("\"b1001\",\"100\",\"\",\"" + Utf8(u8"可升级") + "\""),
            std::string::npos)
      << status.out;

  CommandResult upgrade = Books({"upgrade", "b1001"});
  ASSERT_EQ(upgrade.exit_code, 0) << upgrade.err;
  EXPECT_EQ(RecordValue("g1001", "bookMD5"), new_digest);
  EXPECT_EQ(ReadFile("program/data/books/books/g1001/g1001/edition.txt"), "edition 2\r\n");
  ExpectNoLeftovers("g1001");

  CommandResult uninstall = Books({"uninstall", "b1001"});
  ASSERT_EQ(uninstall.exit_code, 0) << uninstall.err;
  EXPECT_FALSE(Exists("program/data/books/books/g1001/g1001"));
  EXPECT_EQ(RecordValue("g1001", "bookStatus"), "0");
  EXPECT_NE(uninstall.err.find(Utf8(u8"正在卸载课本，请稍候...")), std::string::npos);
}

// An upgrade that fails keeps the edition installed before, and the tool
// says it failed: a script must not take the old edition for the new one.
TEST_F(BooksRunnerTest, AFailedUpgradeKeepsTheOldEditionAndFails) {
  {
    DemoServiceProcess first;
    Serve(first);
    ASSERT_EQ(Books({"sync"}).exit_code, 0);
    ASSERT_EQ(Books({"download", "b1001"}).exit_code, 0);
  }
  const std::string installed_md5 = RecordValue("g1001", "bookMD5");
  // The next service publishes a newer edition whose digest is wrong.
  DemoServiceProcess second;
  Serve(second, {"--wrong-digest"});
  ASSERT_EQ(RunCommand("/usr/bin/curl", {"-sf", "-d", "", second.Url("/demo/publish/g1001")})
                .exit_code,
            0);
  ASSERT_EQ(Books({"sync"}).exit_code, 0);

  CommandResult upgrade = Books({"upgrade", "b1001"});
  EXPECT_EQ(upgrade.exit_code, 1) << upgrade.out;
  EXPECT_NE(upgrade.err.find(Utf8(u8"数据包有错，请重试")), std::string::npos) << upgrade.err;
  EXPECT_EQ(upgrade.out.find("g1001 installed"), std::string::npos) << upgrade.out;
  EXPECT_EQ(RecordValue("g1001", "bookStatus"), "16");
  EXPECT_EQ(RecordValue("g1001", "bookMD5"), installed_md5);
  EXPECT_EQ(ReadFile("program/data/books/books/g1001/g1001/edition.txt"), "edition 1\r\n");
  ExpectNoLeftovers("g1001");
  CommandResult verify = Books({"verify", "b1001"});
  EXPECT_EQ(verify.exit_code, 0) << verify.out;
}

TEST_F(BooksRunnerTest, OperationsNeedABookOfTheCatalogue) {
  DemoServiceProcess service;
  Serve(service);
  CommandResult unknown = Books({"download", "b9999"});
  EXPECT_EQ(unknown.exit_code, 1);
  EXPECT_NE(unknown.err.find(Utf8(u8"课本配置文件有错，请登录后再试....")), std::string::npos)
      << unknown.err;
  EXPECT_EQ(Books({"download"}).exit_code, 2);
  EXPECT_EQ(Books({"fly"}).exit_code, 2);
  EXPECT_EQ(Tool({"books", "--program-dir", program_, "status"}).exit_code, 2);
  // A uid names the user's folder in data/.
  CommandResult climbing = Tool({"books", "--program-dir", program_, "--uid", "../u1", "sync"});
  EXPECT_EQ(climbing.exit_code, 1);
  EXPECT_NE(climbing.err.find("the uid cannot name a folder"), std::string::npos) << climbing.err;
}

// The client holds data/books.lock of its program directory while it runs;
// here a child process stands in for it.
TEST_F(BooksRunnerTest, RefusesToWorkOnBooksThatAnotherProgramHolds) {
  ASSERT_TRUE(CreateDirectoryTree(program_ + "/data"));
  int ready[2];
  int done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  pid_t child = fork();
  if (child == 0) {
    int fd = open((program_ + "/data/books.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    char c = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
    close(done[1]);
    if (write(ready[1], &c, 1) == 1) {
      ssize_t end = read(done[0], &c, 1);  // until the test closes its end
      (void)end;
    }
    _exit(0);
  }
  ASSERT_GT(child, 0);
  close(ready[1]);
  close(done[0]);
  char held = 0;
  EXPECT_EQ(read(ready[0], &held, 1), 1);
  EXPECT_EQ(held, 'y');

  const std::vector<std::string> commands[] = {
      {"status"}, {"sync"}, {"start"}, {"download", "b1001"}, {"uninstall", "b1001"}};
  for (const auto& command : commands) {
    SCOPED_TRACE(command[0]);
    CommandResult r = Books(command);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tomerack-tool: the client (or another books command) is running on " +
                         program_ + "; close it first\n");
  }
  EXPECT_FALSE(PathExists(program_ + "/data/bookinf"));

  close(done[1]);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  CommandResult after = Books({"status"});
  EXPECT_EQ(after.exit_code, 0) << after.err;
}

TEST_F(BooksRunnerTest, DroppedTransfersAreResumedWhereTheyBrokeOff) {
  DemoServiceProcess service;
  // g1002's package is about 560 KB: three attempts of 250000 bytes get it.
  Serve(service, {"--drop-after", "250000"});
  ASSERT_EQ(Books({"sync"}).exit_code, 0);
  CommandResult download = Books({"download", "b1002"});
  ASSERT_EQ(download.exit_code, 0) << download.err;
  std::vector<std::string> requests = PackageRequests(service, "g1002", 3);
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_NE(requests[1].find("range=bytes=250000-"), std::string::npos) << requests[1];
  EXPECT_NE(requests[2].find("range=bytes=500000-"), std::string::npos) << requests[2];
  ExpectNoLeftovers("g1002");
}

TEST_F(BooksRunnerTest, FailedTransfersKeepTheBytesForTheNextRun) {
  DemoServiceProcess service;
  Serve(service, {"--drop-after", "60000"});
  ASSERT_EQ(Books({"sync"}).exit_code, 0);
  CommandResult first = Books({"download", "b1002"});
  EXPECT_EQ(first.exit_code, 1);
  EXPECT_NE(first.err.find(Utf8(u8"下载出错(1)，请检查网络。（错误地址: http://")),
            std::string::npos)
      << first.err;
  EXPECT_EQ(testing_support::ReadBytes(PackagePath("g1002")).size(), 180000u);
  EXPECT_EQ(RecordValue("g1002", "bookStatus"), "0");
  CommandResult second = Books({"download", "b1002"});
  EXPECT_EQ(second.exit_code, 1);
  std::vector<std::string> requests = PackageRequests(service, "g1002", 6);
  ASSERT_EQ(requests.size(), 6u);
  EXPECT_NE(requests[3].find("range=bytes=180000-"), std::string::npos) << requests[3];
}

TEST_F(BooksRunnerTest, AWrongDigestIsRefusedAndTheNextDownloadStartsOver) {
  DemoServiceProcess service;
  Serve(service, {"--wrong-digest"});
  ASSERT_EQ(Books({"sync"}).exit_code, 0);
  CommandResult first = Books({"download", "b1003"});
  EXPECT_EQ(first.exit_code, 1);
  EXPECT_NE(first.err.find(Utf8(u8"数据包有错，请重试")), std::string::npos) << first.err;
  EXPECT_FALSE(PathExists(PackagePath("g1003")));
  EXPECT_FALSE(Exists("program/data/books/books/g1003/g1003"));
  EXPECT_EQ(RecordValue("g1003", "downloading_downloadedSize"), "0");
  EXPECT_EQ(RecordValue("g1003", "bookStatus"), "0");

  EXPECT_EQ(Books({"download", "b1003"}).exit_code, 1);
  std::vector<std::string> requests = PackageRequests(service, "g1003", 2);
  ASSERT_EQ(requests.size(), 2u);
  for (const std::string& request : requests) {
    EXPECT_TRUE(request.find("range=") == std::string::npos ||
                request.find("range=bytes=0-") != std::string::npos)
        << request;
  }
}

TEST_F(BooksRunnerTest, AServerThatIgnoresRangesGetsTheFileRewrittenFromTheStart) {
  DemoServiceProcess service;
  Serve(service, {"--ignore-ranges"});
  ASSERT_EQ(Books({"sync"}).exit_code, 0);
  // Bytes of a run that ended early, not the package's own.
  ASSERT_TRUE(CreateDirectoryTree(program_ + "/data/books/books/g1001"));
  testing_support::WriteBytes(PackagePath("g1001"), std::string(5000, 'x'));
  CommandResult download = Books({"download", "b1001"});
  ASSERT_EQ(download.exit_code, 0) << download.err;
  std::vector<std::string> requests = PackageRequests(service, "g1001", 1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0].find("range=bytes=5000-"), std::string::npos) << requests[0];
  EXPECT_EQ(ReadFile("program/data/books/books/g1001/g1001/edition.txt"), "edition 1\r\n");
  ExpectNoLeftovers("g1001");
}

// Killed after the last byte arrived but before the record was saved again:
// the file is as long as the package or longer, and the server has nothing
// left to send from there.
TEST_F(BooksRunnerTest, AFileAlreadyAtItsEndIsCheckedInsteadOfFetchedAgain) {
  DemoServiceProcess service;
  Serve(service);
  ASSERT_EQ(Books({"sync"}).exit_code, 0);
  CommandResult package =
      RunCommand("/usr/bin/curl", {"-sf", service.Url("/data/books/g1001/g1001.zip")});
  ASSERT_EQ(package.exit_code, 0);
  struct Case {
    const char* name;
    std::string file;
    size_t requests;
  } cases[] = {{"the whole package", package.out, 1},
               {"a longer file of something else", std::string(package.out.size() + 10, 'z'), 2}};
  size_t seen = PackageRequests(service, "g1001", 1).size();  // curl's own
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(CreateDirectoryTree(program_ + "/data/books/books/g1001"));
    testing_support::WriteBytes(PackagePath("g1001"), c.file);
    CommandResult download = Books({"download", "b1001"});
    ASSERT_EQ(download.exit_code, 0) << download.err;
    std::vector<std::string> requests = PackageRequests(service, "g1001", seen + c.requests);
    ASSERT_EQ(requests.size(), seen + c.requests);
    EXPECT_NE(requests[seen].find(" 416 range=bytes=" + std::to_string(c.file.size()) + "-"),
              std::string::npos)
        << requests[seen];
    seen = requests.size();
    EXPECT_EQ(ReadFile("program/data/books/books/g1001/g1001/edition.txt"), "edition 1\r\n");
    ExpectNoLeftovers("g1001");
    ASSERT_EQ(Books({"uninstall", "b1001"}).exit_code, 0);
  }
}

TEST_F(BooksRunnerTest, ADownloadKilledHalfWayIsFinishedAtTheNextStart) {
  {
    DemoServiceProcess slow;
    // 256 KiB pieces, one every 300 ms.
    Serve(slow, {"--slow-ms", "300"});
    ASSERT_EQ(Books({"sync"}).exit_code, 0);
    platform::ProcessHandle run = StartBooks({"download", "b1002"});
    ASSERT_TRUE(run.valid());
    ASSERT_TRUE(testing_support::WaitFor(
        [&] { return testing_support::ReadBytes(PackagePath("g1002")).size() > 0; },
        std::chrono::seconds(60)));
    ASSERT_TRUE(run.Terminate());
    run.Wait(-1);
  }
  size_t kept = testing_support::ReadBytes(PackagePath("g1002")).size();
  ASSERT_GT(kept, 0u);
  EXPECT_EQ(RecordValue("g1002", "bookStatus"), "2");

  DemoServiceProcess service;
  Serve(service);
  // The access log goes on from the killed run's requests.
  const size_t earlier = LoggedRequests(service, "g1002").size();
  CommandResult start = Books({"start"});
  ASSERT_EQ(start.exit_code, 0) << start.err;
  EXPECT_NE(start.out.find("resumed g1002: installed"), std::string::npos) << start.out;
  EXPECT_NE(start.err.find(Utf8(u8"课本在下载或安装过程中被中断，正在检查，请稍候...")),
            std::string::npos);
  std::vector<std::string> requests = PackageRequests(service, "g1002", earlier + 1);
  ASSERT_EQ(requests.size(), earlier + 1);
  EXPECT_NE(requests.back().find("range=bytes=" + std::to_string(kept) + "-"), std::string::npos)
      << requests.back();
  EXPECT_EQ(RecordValue("g1002", "bookStatus"), "16");
  ExpectNoLeftovers("g1002");

  CommandResult nothing = Books({"start"});
  EXPECT_EQ(nothing.exit_code, 0);
  EXPECT_NE(nothing.out.find("nothing to resume"), std::string::npos);
}

// A package big enough that its extraction takes a while: many files of
// data that does not compress.
std::string SlowPackage() {
  std::vector<ZipEntrySpec> entries;
  uint32_t x = 12345;
  for (int i = 0; i < 1500; ++i) {
    ZipEntrySpec entry;
    entry.name = "pages/p" + std::to_string(i) + ".bin";
    entry.data.resize(40000);
    for (char& c : entry.data) {
      x = x * 1103515245u + 12345u;
      c = static_cast<char>(x >> 24);
    }
    entry.method = ZipEntrySpec::Method::kStored;
    entries.push_back(std::move(entry));
  }
  ZipEntrySpec last;
  last.name = "zz_last.txt";
  last.data = "the end\n";
  entries.push_back(last);
  return MakeZip(entries);
}

// Killed while the book is being unpacked (which begins as the package
// arrives): the install directory never holds half a book, and the next
// start finishes the work.
TEST_F(BooksRunnerTest, AnInstallationKilledHalfWayIsRedoneAtTheNextStart) {
  testing_support::WriteBytes(Path("big.zip"), SlowPackage());
  DemoServiceProcess service;
  Serve(service, {"--extra-package", Path("big.zip")});
  ASSERT_EQ(Books({"sync"}).exit_code, 0);

  bool killed_while_unpacking = false;
  for (int attempt = 0; attempt < 5 && !killed_while_unpacking; ++attempt) {
    platform::ProcessHandle run = StartBooks({"download", "b1900"});
    ASSERT_TRUE(run.valid());
    const std::string staging = InstallDir("g1900") + ".staging";
    testing_support::WaitFor(
        [&] { return PathExists(staging + "/pages/p1.bin") || !run.IsRunning(); },
        std::chrono::seconds(60));
    run.Terminate();
    run.Wait(-1);
    std::string status = RecordValue("g1900", "bookStatus");
    killed_while_unpacking = (status == "2" || status == "8") &&
                             !PathExists(staging + "/zz_last.txt");
    if (killed_while_unpacking) {
      EXPECT_FALSE(PathExists(InstallDir("g1900"))) << "half a book in the install directory";
    } else {
      ASSERT_EQ(Books({"uninstall", "b1900"}).exit_code, 0);
    }
  }
  ASSERT_TRUE(killed_while_unpacking) << "the installation always ended before the kill";

  CommandResult start = Books({"start"});
  ASSERT_EQ(start.exit_code, 0) << start.err;
  EXPECT_NE(start.out.find("resumed g1900: installed"), std::string::npos) << start.out;
  EXPECT_EQ(RecordValue("g1900", "bookStatus"), "16");
  EXPECT_EQ(testing_support::ReadBytes(InstallDir("g1900") + "/zz_last.txt"), "the end\n");
  ExpectNoLeftovers("g1900");
}

}  // namespace
