#include "net/upgrade_checker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>

#include "config/daily_log.h"
#include "net/transfer_limits.h"
#include "net/upgrade_signature.h"
#include "tests/support/daily_log_text.h"
#include "tests/support/demo_service_process.h"
#include "tests/support/loopback_server.h"
#include "tests/support/program_dir.h"
#include "tests/support/slow_endpoints.h"

namespace {

using testing_support::LoopbackServer;

// The publisher's key pair, and one of somebody else.
struct KeyPair {
  std::string private_pem;
  std::string public_text;
};
KeyPair NewKeyPair() {
  KeyPair pair;
  EXPECT_TRUE(GenerateUpgradeKey(pair.private_pem, pair.public_text));
  return pair;
}
const KeyPair& Publisher() {
  static const KeyPair pair = NewKeyPair();
  return pair;
}
const KeyPair& Stranger() {
  static const KeyPair pair = NewKeyPair();
  return pair;
}

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

// What a server publishes under /up. By default everything is as the
// publisher signed it; each member can spoil one part.
struct Publication {
  std::string version;                  // served in version.dat
  std::string signed_version;           // empty: the served one
  std::string program = kUpgradeScript;  // served as upgrade.exe
  std::string signed_program;           // empty: the served one
  int program_status = 200;
  int signature_status = 200;
};

class UpgradeCheckerTest : public testing_support::ProgramDirSandbox {
 protected:
  void Publish(LoopbackServer& server, const Publication& p) {
    std::string signature;
    const std::string& version = p.signed_version.empty() ? p.version : p.signed_version;
    const std::string& program = p.signed_program.empty() ? p.program : p.signed_program;
    // The service signs the version text without its line break.
    std::string trimmed = version.substr(0, version.find_last_not_of("\r\n") + 1);
    EXPECT_TRUE(
        SignUpgrade(Publisher().private_pem, trimmed, Sha256OfBytes(program), signature));
    server.server().Get("/up/version.dat",
                        [p](const httplib::Request&, httplib::Response& res) {
                          res.set_content(p.version, "text/plain");
                        });
    server.server().Get("/up/upgrade.exe",
                        [p](const httplib::Request&, httplib::Response& res) {
                          res.status = p.program_status;
                          res.set_content(p.program, "application/octet-stream");
                        });
    server.server().Get("/up/upgrade.sig",
                        [p, signature](const httplib::Request&, httplib::Response& res) {
                          res.status = p.signature_status;
                          res.set_content(signature, "application/octet-stream");
                        });
    server.Start();
  }
  void Publish(LoopbackServer& server, const std::string& version, int program_status = 200) {
    Publication p;
    p.version = version;
    p.program_status = program_status;
    Publish(server, p);
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
  checker.SetPublicKey(Publisher().public_text);
  checker.SetAddresses(server.Url("/up") + "/");
  EXPECT_TRUE(checker.CheckOnce());
  EXPECT_EQ(server.CountPath("/up/version.dat"), 1u);
  EXPECT_EQ(server.CountPath("/up/upgrade.exe"), 0u);
  EXPECT_FALSE(Exists("version.dat"));
  EXPECT_FALSE(Exists("Upgrade.exe"));
  ASSERT_FALSE(server.Requests().empty());
  EXPECT_FALSE(server.Requests().back().query_time.empty());  // "?<seconds>" against caches
}

TEST_F(UpgradeCheckerTest, NewerSignedVersionIsDownloadedCheckedAndStarted) {
  struct Case {
    const char* installed;  // null: no system/version.dat
    const char* published;
  };
  const Case cases[] = {{"1.2.3", "1.2.10"}, {"1.9.3\r\n", "1.10.0\r\n"}, {nullptr, "1.0.0"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.published);
    std::remove(Path("upgrade-ran.txt").c_str());
    std::remove(Path("system/version.dat").c_str());
    if (c.installed != nullptr) Install(c.installed);
    LoopbackServer server;
    Publish(server, c.published);
    UpgradeChecker checker(Immediate());
    checker.SetPublicKey(Publisher().public_text);
    checker.SetAddresses(server.Url("/up"));
    EXPECT_TRUE(checker.CheckOnce());
    ASSERT_TRUE(UpgradeRan());
    EXPECT_EQ(ReadFile("upgrade-ran.txt"), dir() + "|1|/upgrade");
    EXPECT_EQ(server.CountPath("/up/upgrade.exe"), 1u);
    EXPECT_EQ(testing_support::DailyLogText().find(UpgradeChecker::kRefusedLog), std::string::npos) << testing_support::DailyLogText();
  }
}

// Whatever does not carry the publisher's signature over exactly the served
// version and program, or is no upgrade, is never started.
TEST_F(UpgradeCheckerTest, UnsignedOrNotNewerUpgradesStartNothingAndTheLogSaysWhy) {
  enum class Key { kPublisher, kNone, kStranger, kGarbage };
  struct Case {
    const char* name;
    Key key;
    const char* installed;
    Publication publication;
    bool current;     // what the check returns
    const char* why;  // in the log line
  };
  auto with = [](const char* version, auto change) {
    Publication p;
    p.version = version;
    change(p);
    return p;
  };
  auto as_signed = [](Publication&) {};
  std::string tampered = kUpgradeScript;
  tampered[tampered.size() / 2] ^= 0x01;
  const Case cases[] = {
      {"no key configured", Key::kNone, "1.0", with("2.0", as_signed), false,
       "no UpgradePublicKey configured"},
      {"key is not Base64 of 32 bytes", Key::kGarbage, "1.0", with("2.0", as_signed), false,
       "UpgradePublicKey is not Base64"},
      {"signed by another key", Key::kStranger, "1.0", with("2.0", as_signed), false,
       "signature does not match"},
      {"one program byte changed", Key::kPublisher, "1.0",
       with("2.0", [&](Publication& p) { p.program = tampered; p.signed_program = kUpgradeScript; }),
       false, "signature does not match"},
      {"version text changed", Key::kPublisher, "1.0",
       with("2.1", [](Publication& p) { p.signed_version = "2.0"; }), false,
       "signature does not match"},
      {"no signature", Key::kPublisher, "1.0",
       with("2.0", [](Publication& p) { p.signature_status = 404; }), false, "no signature"},
      {"same version", Key::kPublisher, "2.0.0", with("2.0.0\r\n", as_signed), true,
       "2.0.0 is not newer than the installed 2.0.0"},
      {"same version, other spelling", Key::kPublisher, "2.0", with("2.0.0", as_signed), true,
       "not newer"},
      {"older version", Key::kPublisher, "1.10.0", with("1.9.3", as_signed), true,
       "1.9.3 is not newer than the installed 1.10.0"},
      {"malformed published version", Key::kPublisher, "1.0", with("2.0-beta", as_signed), false,
       "published version \"2.0-beta\""},
      {"case of a malformed version", Key::kPublisher, "v1.0", with("V1.0", as_signed), false,
       "installed version \"v1.0\" is not dotted numbers"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(GetLogDirectoryPath());
    Install(c.installed);
    LoopbackServer server;
    Publish(server, c.publication);
    UpgradeChecker checker(Immediate());
    const std::string keys[] = {Publisher().public_text, "", Stranger().public_text,
                                "c2hvcnQ="};
    checker.SetPublicKey(keys[static_cast<int>(c.key)]);
    checker.SetAddresses(server.Url("/up"));
    EXPECT_EQ(checker.CheckOnce(), c.current);
    // A started program would still be there; a refused one is gone before
    // it was ever made executable.
    EXPECT_FALSE(Exists("Upgrade.exe"));
    EXPECT_FALSE(Exists("Upgrade.sig"));
    EXPECT_FALSE(Exists("upgrade-ran.txt"));
    const std::string log = testing_support::DailyLogText();
    EXPECT_NE(log.find(std::string(UpgradeChecker::kRefusedLog)), std::string::npos) << log;
    EXPECT_NE(log.find(c.why), std::string::npos) << log;
    // The retry that follows a few seconds later does not log it again.
    EXPECT_EQ(checker.CheckOnce(), c.current);
    EXPECT_EQ(testing_support::DailyLogText(), log);
  }
}

// The demo service as publishers run it: its upgrade program, signed with
// the key it wrote out, passes and installs the published version.
TEST_F(UpgradeCheckerTest, DemoServiceUpgradeIsSignedWithTheKeyItPublishes) {
  testing_support::DemoServiceProcess demo;
  ASSERT_TRUE(demo.Start(dir(), {"--version", "1.10.0", "--upgrade-public-key", Path("demo.pub")}));
  Install("1.9.3");
  UpgradeChecker checker(Immediate());
  checker.SetPublicKey(ReadFile("demo.pub"));
  checker.SetAddresses(demo.Url("/upgrade"));
  EXPECT_TRUE(checker.CheckOnce());
  ASSERT_TRUE(testing_support::WaitFor(
      [&] { return ReadFile("system/version.dat") == "1.10.0\r\n"; }, std::chrono::seconds(30)));
  EXPECT_TRUE(checker.CheckOnce());  // current now
  EXPECT_EQ(testing_support::DailyLogText().find("signature"), std::string::npos) << testing_support::DailyLogText();
}

TEST_F(UpgradeCheckerTest, SecondBaseIsUsedWhenTheFirstFails) {
  LoopbackServer server;
  Publish(server, "2.0");
  Install("1.0");
  UpgradeChecker checker(Immediate());
  checker.SetPublicKey(Publisher().public_text);
  checker.SetAddresses("http://127.0.0.1:1/up;" + server.Url("/up"));
  EXPECT_TRUE(checker.CheckOnce());
  EXPECT_TRUE(UpgradeRan());
}

TEST_F(UpgradeCheckerTest, FailedProgramDownloadOrNoAnswerIsNoSuccess) {
  LoopbackServer server;
  Publish(server, "2.0", 404);
  Install("1.0");
  UpgradeChecker checker(Immediate());
  checker.SetPublicKey(Publisher().public_text);
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
  WriteFile("Upgrade.sig", "old");
  WriteFile("version.dat", "old");
  LoopbackServer server;
  Publish(server, "3.0");
  Install("2.0");
  UpgradeChecker checker(Immediate());
  checker.SetPublicKey(Publisher().public_text);
  EXPECT_FALSE(Exists("Upgrade.exe"));
  EXPECT_FALSE(Exists("Upgrade.sig"));
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
    checker.SetPublicKey(Publisher().public_text);
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
  checker.SetPublicKey(Publisher().public_text);
  checker.Start(server.Url("/up"));
  ASSERT_TRUE(testing_support::WaitFor([&] { return started > 0; }));
  auto start = std::chrono::steady_clock::now();
  checker.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(checker.IsRunning());
  EXPECT_FALSE(Exists("version.dat"));
}

TEST_F(UpgradeCheckerTest, UndeletableUpgradeProgramEndsTheCheckAtOnce) {
  LoopbackServer server;
  Publish(server, "2.0");
  UpgradeChecker checker(Immediate());
  checker.SetPublicKey(Publisher().public_text);
  WriteFile("Upgrade.exe/in-use", "");  // a name that cannot be removed as a file
  checker.SetAddresses(server.Url("/up"));
  EXPECT_FALSE(checker.CheckOnce());
  EXPECT_TRUE(server.Requests().empty());
}

}  // namespace
