#include "net/upgrade_checker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>

#include "net/transfer_limits.h"

#include "tests/support/loopback_server.h"
#include "tests/support/program_dir.h"
#include "tests/support/slow_endpoints.h"

namespace {

using testing_support::LoopbackServer;

// The upgrade program the servers hand out: it notes its working directory
// and arguments, then leaves.
constexpr const char kUpgradeScript[] =
    "#!/bin/sh\n"
    "printf '%s|%s|%s' \"$PWD\" \"$#\" \"$*\" > upgrade-ran.txt\n";

UpgradeChecker::Timing Immediate() {
  UpgradeChecker::Timing timing;
  timing.initial_delay_ms = 0;
  timing.retry_interval_ms = 10;
  timing.current_interval_ms = 3600000;
  timing.address_wait_ms = 0;
  return timing;
}

class UpgradeCheckerTest : public testing_support::ProgramDirSandbox {
 protected:
  // A server publishing version under /up.
  void Publish(LoopbackServer& server, const std::string& version, int program_status = 200) {
    server.server().Get("/up/version.dat",
                        [version](const httplib::Request&, httplib::Response& res) {
                          res.set_content(version, "text/plain");
                        });
    server.server().Get("/up/upgrade.exe",
                        [program_status](const httplib::Request&, httplib::Response& res) {
                          res.status = program_status;
                          res.set_content(kUpgradeScript, "application/octet-stream");
                        });
    server.Start();
  }
  void Install(const std::string& version) { WriteFile("system/version.dat", version); }
  bool UpgradeRan() {
    return testing_support::WaitFor([&] { return !ReadFile("upgrade-ran.txt").empty(); },
                                    std::chrono::seconds(30));
  }
};

TEST_F(UpgradeCheckerTest, SameVersionWithALineBreakIsCurrent) {
  LoopbackServer server;
  Publish(server, "1.2.3\r\n");
  Install("1.2.3");
  UpgradeChecker checker(Immediate());
  checker.SetAddresses(server.Url("/up") + "/");
  EXPECT_TRUE(checker.CheckOnce());
  EXPECT_EQ(server.CountPath("/up/version.dat"), 1u);
  EXPECT_EQ(server.CountPath("/up/upgrade.exe"), 0u);
  EXPECT_FALSE(Exists("version.dat"));
  EXPECT_FALSE(Exists("Upgrade.exe"));
  ASSERT_FALSE(server.Requests().empty());
  EXPECT_FALSE(server.Requests().back().query_time.empty());  // "?<seconds>" against caches
}

TEST_F(UpgradeCheckerTest, AnyDifferenceDownloadsAndStartsTheProgram) {
  struct Case {
    const char* installed;  // null: no system/version.dat
    const char* published;
  };
  const Case cases[] = {{"1.2.3", "1.2.10"}, {"v1.0", "V1.0"}, {nullptr, "1.0.0"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.published);
    std::remove(Path("upgrade-ran.txt").c_str());
    std::remove(Path("system/version.dat").c_str());
    if (c.installed != nullptr) Install(c.installed);
    LoopbackServer server;
    Publish(server, c.published);
    UpgradeChecker checker(Immediate());
    checker.SetAddresses(server.Url("/up"));
    EXPECT_TRUE(checker.CheckOnce());
    ASSERT_TRUE(UpgradeRan());
    EXPECT_EQ(ReadFile("upgrade-ran.txt"), dir() + "|1|/upgrade");
    EXPECT_EQ(server.CountPath("/up/upgrade.exe"), 1u);
  }
}

TEST_F(UpgradeCheckerTest, SecondBaseIsUsedWhenTheFirstFails) {
  LoopbackServer server;
  Publish(server, "2.0");
  Install("1.0");
  UpgradeChecker checker(Immediate());
  checker.SetAddresses("http://127.0.0.1:1/up;" + server.Url("/up"));
  EXPECT_TRUE(checker.CheckOnce());
  EXPECT_TRUE(UpgradeRan());
}

TEST_F(UpgradeCheckerTest, FailedProgramDownloadOrNoAnswerIsNoSuccess) {
  LoopbackServer server;
  Publish(server, "2.0", 404);
  Install("1.0");
  UpgradeChecker checker(Immediate());
  checker.SetAddresses(server.Url("/up") + ";http://127.0.0.1:1/x");
  EXPECT_FALSE(checker.CheckOnce());
  EXPECT_FALSE(Exists("Upgrade.exe"));
  EXPECT_FALSE(Exists("upgrade-ran.txt"));
}

TEST_F(UpgradeCheckerTest, StartSplitsTheAddressList) {
  UpgradeChecker::Timing slow = Immediate();
  slow.initial_delay_ms = 3600000;  // the stop cuts this wait short
  UpgradeChecker checker(slow);
  checker.Start("a/;;b//");
  EXPECT_EQ(checker.Addresses(), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(checker.IsRunning());
  checker.Start("c");
  EXPECT_EQ(checker.Addresses(), (std::vector<std::string>{"c"}));
  checker.Stop();
  EXPECT_FALSE(checker.IsRunning());
}

TEST_F(UpgradeCheckerTest, WorkerChecksByItselfAndLeftoversAreRemoved) {
  WriteFile("Upgrade.exe", "old");
  WriteFile("version.dat", "old");
  LoopbackServer server;
  Publish(server, "3.0");
  Install("2.0");
  UpgradeChecker checker(Immediate());
  EXPECT_FALSE(Exists("Upgrade.exe"));
  EXPECT_FALSE(Exists("version.dat"));
  checker.Start(server.Url("/up"));
  EXPECT_TRUE(UpgradeRan());
  checker.Stop();
}


TEST_F(UpgradeCheckerTest, VersionTextPastItsLimitIsRefused) {
  struct Case {
    size_t padding;  // spaces after the installed version text
    bool current;
  };
  const size_t fits = kMostVersionTextBytes - std::string("1.2.3").size();
  const Case cases[] = {{fits, true}, {fits + 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.padding);
    LoopbackServer server;
    Publish(server, "1.2.3" + std::string(c.padding, ' '));
    Install("1.2.3");
    UpgradeChecker checker(Immediate());
    checker.SetAddresses(server.Url("/up"));
    EXPECT_EQ(checker.CheckOnce(), c.current);
    // Refused, not taken for a different version: no upgrade is fetched.
    EXPECT_EQ(server.CountPath("/up/upgrade.exe"), 0u);
    EXPECT_FALSE(Exists("version.dat"));
  }
}

TEST_F(UpgradeCheckerTest, StopEndsADownloadUnderWay) {
  LoopbackServer server;
  // 300 bytes in 30 s: the download would hold the stop that long.
  std::atomic<int> started{0};
  testing_support::ServeDrip(server.server(), "/up/version.dat", 300,
                             std::chrono::milliseconds(100), &started);
  server.Start();
  Install("1.0");
  UpgradeChecker checker(Immediate());
  checker.Start(server.Url("/up"));
  ASSERT_TRUE(testing_support::WaitFor([&] { return started > 0; }));
  auto start = std::chrono::steady_clock::now();
  checker.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(checker.IsRunning());
  EXPECT_FALSE(Exists("version.dat"));
}

}  // namespace

namespace {

TEST_F(UpgradeCheckerTest, UndeletableUpgradeProgramEndsTheCheckAtOnce) {
  LoopbackServer server;
  Publish(server, "2.0");
  UpgradeChecker checker(Immediate());
  WriteFile("Upgrade.exe/in-use", "");  // a name that cannot be removed as a file
  checker.SetAddresses(server.Url("/up"));
  EXPECT_FALSE(checker.CheckOnce());
  EXPECT_TRUE(server.Requests().empty());
}

}  // namespace
