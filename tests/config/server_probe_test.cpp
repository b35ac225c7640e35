#include "config/server_probe.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <set>
#include <thread>

#include "app/config_file.h"
#include "app/config_key.h"
#include "config/parameter_store.h"
#include "tests/support/loopback_server.h"
#include "tests/support/program_dir.h"

namespace {

using testing_support::LoopbackServer;

constexpr const char kList[] =
    "app#a#x#1#good-app;dat#d#x#1#good-dat#extra#more;cor#c#x#1#bad-cor;app#b";

class ServerProbeTest : public testing_support::ProgramDirSandbox {
 protected:
  void SetUp() override {
    ProgramDirSandbox::SetUp();
    BuildConfigKey();
    auto& s = server_.server();
    s.Get("/fails", [](const httplib::Request&, httplib::Response& res) { res.status = 500; });
    s.Get("/list", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(list_, "text/plain");
    });
    s.Get("/third", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("app#never#x#1#never", "text/plain");
    });
    s.Get("/binary", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("app#a#x#1#good-app", "application/octet-stream");
    });
    s.Get("/held", [this](const httplib::Request&, httplib::Response& res) {
      std::unique_lock<std::mutex> hold(held_lock_);
      held_entered_ = true;
      held_changed_.wait(hold, [this] { return released_; });
      res.set_content("app#a#x#1#good-app;dat#d#x#1#good-dat", "text/plain");
    });
    s.Get("/test", [this](const httplib::Request& req, httplib::Response& res) {
      res.status = passing_.count(req.get_param_value("s")) ? 200 : 503;
    });
    server_.Start();
  }
  void TearDown() override {
    Release();
    server_.Stop();
    FreeConfigKey();
    ProgramDirSandbox::TearDown();
  }

  void Release() {
    {
      std::lock_guard<std::mutex> hold(held_lock_);
      released_ = true;
    }
    held_changed_.notify_all();
  }

  // Starts a probe and waits for it to end.
  void Probe(const std::string& urls) {
    prober_.Start(urls);
    ASSERT_TRUE(
        testing_support::WaitFor([&] { return !prober_.IsRunning(); }, std::chrono::seconds(60)));
  }

  // The list as Config.EF holds it.
  std::string StoredList() {
    ParameterStore::Instance().Clear();
    EXPECT_GT(LoadConfigFile(), 0);
    return GetParameter("serverlist");
  }

  LoopbackServer server_;
  std::string list_ = kList;
  std::set<std::string> passing_ = {"good-app", "good-dat"};
  std::mutex held_lock_;
  std::condition_variable held_changed_;
  bool released_ = false;
  bool held_entered_ = false;
  bool HeldEntered() {
    std::lock_guard<std::mutex> hold(held_lock_);
    return held_entered_;
  }
  ServerProber prober_;
};

TEST_F(ServerProbeTest, FirstAnsweringUrlGivesTheListAndLaterOnesAreNotAsked) {
  Probe(server_.Url("/fails") + ";" + server_.Url("/list") + ";" + server_.Url("/third"));
  EXPECT_EQ(GetParameter("serverlist"), kList);
  EXPECT_EQ(StoredList(), kList);
  EXPECT_EQ(ReadFile("system/tmp/grr.dat"), kList);
  EXPECT_EQ(server_.CountPath("/fails"), 1u);
  EXPECT_EQ(server_.CountPath("/third"), 0u);
  EXPECT_EQ(server_.CountPath("/test"), 0u);  // no test URL configured
  EXPECT_EQ(prober_.ThreadCount(), 0);
}

TEST_F(ServerProbeTest, TestedEntriesAreRewrittenToFiveFields) {
  SetParameter("url_testServer", server_.Url("/test?s=$SERVER$"));
  Probe(server_.Url("/list"));
  EXPECT_EQ(GetParameter("serverlist"), "app#a#x#1#good-app;dat#d#x#1#good-dat");
  EXPECT_EQ(StoredList(), "app#a#x#1#good-app;dat#d#x#1#good-dat");
  EXPECT_EQ(server_.CountPath("/test"), 3u);  // the four-field entry is not tested
}

TEST_F(ServerProbeTest, OnlyCorEntriesPassingKeepsTheFetchedList) {
  SetParameter("url_testServer", server_.Url("/test?s=$SERVER$"));
  passing_ = {"bad-cor"};
  Probe(server_.Url("/list"));
  EXPECT_EQ(GetParameter("serverlist"), kList);
}

TEST_F(ServerProbeTest, NothingAnsweringKeepsTheOldListAndNonTextGivesAnEmptyOne) {
  SetParameter("serverlist", "app#old#x#1#old");
  Probe(server_.Url("/fails") + ";http://127.0.0.1:1/x");
  EXPECT_EQ(GetParameter("serverlist"), "app#old#x#1#old");

  Probe(server_.Url("/binary"));
  EXPECT_EQ(GetParameter("serverlist"), "");
  EXPECT_EQ(ReadFile("system/tmp/grr.dat"), "app#a#x#1#good-app");
}

TEST_F(ServerProbeTest, ProbeStartedWhileOneRunsDoesNothing) {
  prober_.Start(server_.Url("/held"));
  ASSERT_TRUE(testing_support::WaitFor([&] { return HeldEntered(); }));
  prober_.Start(server_.Url("/list"));  // ignored
  EXPECT_EQ(prober_.ThreadCount(), 1);
  Release();
  ASSERT_TRUE(testing_support::WaitFor([&] { return !prober_.IsRunning(); }));
  EXPECT_EQ(server_.CountPath("/list"), 0u);
  EXPECT_EQ(GetParameter("serverlist"), "app#a#x#1#good-app;dat#d#x#1#good-dat");

  Probe(server_.Url("/list"));
  EXPECT_EQ(server_.CountPath("/list"), 1u);
  EXPECT_EQ(GetParameter("serverlist"), kList);
}

TEST_F(ServerProbeTest, StopEndsTheProbeWithoutStoringAPartialTest) {
  SetParameter("url_testServer", server_.Url("/test?s=$SERVER$"));
  prober_.Start(server_.Url("/held"));
  ASSERT_TRUE(testing_support::WaitFor([&] { return HeldEntered(); }));
  // Stop waits for the request in progress, which the server then finishes.
  std::thread stopper([&] { prober_.Stop(); });
  ASSERT_TRUE(testing_support::WaitFor([&] { return prober_.StopRequested(); }));
  Release();
  stopper.join();
  EXPECT_FALSE(prober_.IsRunning());
  EXPECT_EQ(prober_.ThreadCount(), 0);
  EXPECT_EQ(server_.CountPath("/test"), 0u);
  EXPECT_EQ(GetParameter("serverlist"), "");
}

}  // namespace
