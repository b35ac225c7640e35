#include "config/data_server_record.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "config/parameter_store.h"
#include "net/request_helpers.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "tests/support/loopback_server.h"
#include "tests/support/program_dir.h"
#include "tests/support/refusing_port.h"

namespace {

using testing_support::LoopbackServer;

constexpr int64_t kSecond = 1000;
constexpr double kMiB = 1024 * 1024;
// Draws spread evenly over the 32-bit numbers, so that each server's count
// is its share of the draw.
constexpr uint32_t kDraws = 1024;

uint32_t EvenDraw(uint32_t k) {
  return k << 22;
}

std::map<std::string, uint32_t> CountChoices(const std::string& list,
                                             const DataServerRecord& record) {
  std::map<std::string, uint32_t> counts;
  for (uint32_t k = 0; k < kDraws; ++k) {
    DataServerChoice choice;
    EXPECT_TRUE(ChooseDataServer(list, EvenDraw(k), record, choice));
    ++counts[choice.server];
  }
  return counts;
}

// What happens to the record before the draw.
struct Event {
  enum Kind { kFail, kDeliver, kWait } kind;
  const char* server = "";
  double mib_per_second = 0;  // kDeliver: 10 MiB at this speed; 0: nothing to measure
  int64_t wait_ms = 0;
};

Event Fail(const char* server) {
  return {Event::kFail, server};
}
Event Deliver(const char* server, double mib_per_second) {
  return {Event::kDeliver, server, mib_per_second};
}
Event Wait(int64_t ms) {
  return {Event::kWait, "", 0, ms};
}

struct ChoiceCase {
  const char* what;
  const char* list;
  std::vector<Event> events;
  // Each server's expected share of the draws; others get none.
  std::map<std::string, double> shares;
};

// A (weight 1) and B (weight 3); Z of weight 0 and servers of other kinds
// are never drawn.
constexpr const char kTwo[] = "dat#1#2#1#A;dat#1#2#3#B;dat#1#2#0#Z;app#1#2#9#P;cor#1#2#9#C";

const ChoiceCase kChoiceCases[] = {
    {"plain weights while nothing is known", kTwo, {}, {{"A", 0.25}, {"B", 0.75}}},
    {"a failed server is skipped", kTwo, {Fail("A")}, {{"B", 1.0}}},
    {"still skipped just before its back-off ends",
     kTwo,
     {Fail("A"), Wait(30 * kSecond - 1)},
     {{"B", 1.0}}},
    {"back after 30 s", kTwo, {Fail("A"), Wait(30 * kSecond)}, {{"A", 0.25}, {"B", 0.75}}},
    {"a second failure in a row doubles the back-off",
     kTwo,
     {Fail("A"), Wait(30 * kSecond), Fail("A"), Wait(60 * kSecond - 1)},
     {{"B", 1.0}}},
    {"the doubled back-off ends",
     kTwo,
     {Fail("A"), Fail("A"), Fail("A"), Wait(120 * kSecond)},
     {{"A", 0.25}, {"B", 0.75}}},
    {"the back-off stops growing at 30 min",
     kTwo,
     {Fail("A"), Fail("A"), Fail("A"), Fail("A"), Fail("A"), Fail("A"), Fail("A"), Fail("A"),
      Fail("A"), Fail("A"), Fail("A"), Fail("A"), Wait(30 * 60 * kSecond)},
     {{"A", 0.25}, {"B", 0.75}}},
    {"a success ends the back-off at once",
     kTwo,
     {Fail("A"), Fail("A"), Fail("A"), Deliver("A", 0)},
     {{"A", 0.25}, {"B", 0.75}}},
    {"after a success the next failure starts from 30 s again",
     kTwo,
     {Fail("A"), Fail("A"), Deliver("A", 0), Fail("A"), Wait(30 * kSecond)},
     {{"A", 0.25}, {"B", 0.75}}},
    {"every server in back-off: the one whose back-off ends first",
     kTwo,
     {Fail("B"), Wait(kSecond), Fail("A")},
     {{"B", 1.0}}},
    {"every server in back-off, a longer one later: still the earliest end",
     kTwo,
     {Fail("A"), Fail("B"), Fail("B")},
     {{"A", 1.0}}},
    {"the faster of equal weights is preferred, the slower still drawn",
     "dat#1#2#1#A;dat#1#2#1#B",
     {Deliver("A", 40), Deliver("B", 10)},
     {{"A", 0.8}, {"B", 0.2}}},
    {"speed scales the weights, it does not replace them",
     kTwo,
     {Deliver("A", 40), Deliver("B", 10)},
     {{"A", 2.0 / 3.5}, {"B", 1.5 / 3.5}}},
    {"a far slower server keeps a quarter of its weight",
     "dat#1#2#1#A;dat#1#2#1#B",
     {Deliver("A", 4000), Deliver("B", 0.001)},
     {{"A", 4.0 / 4.25}, {"B", 0.25 / 4.25}}},
    {"a server not measured yet keeps its plain weight",
     "dat#1#2#1#A;dat#1#2#1#B;dat#1#2#1#N",
     {Deliver("A", 40), Deliver("B", 10)},
     {{"A", 2.0 / 3.5}, {"B", 0.5 / 3.5}, {"N", 1.0 / 3.5}}},
    {"a failed fast server is skipped all the same",
     "dat#1#2#1#A;dat#1#2#1#B",
     {Deliver("A", 40), Deliver("B", 10), Fail("A")},
     {{"B", 1.0}}},
};

TEST(ChooseDataServer, LearnsFromFailuresAndSpeedWithinTheWeights) {
  for (const ChoiceCase& c : kChoiceCases) {
    SCOPED_TRACE(c.what);
    int64_t now = 1000 * kSecond;
    DataServerRecord record([&now] { return now; });
    for (const Event& e : c.events) {
      switch (e.kind) {
        case Event::kFail:
          record.ReportFailure(e.server);
          break;
        case Event::kDeliver:
          if (e.mib_per_second > 0)
            record.ReportSuccess(e.server, 10 << 20, 10 / e.mib_per_second);
          else
            record.ReportSuccess(e.server, 0, 1.0);
          break;
        case Event::kWait:
          now += e.wait_ms;
          break;
      }
    }
    std::map<std::string, uint32_t> counts = CountChoices(c.list, record);
    for (const auto& [server, count] : counts) {
      ASSERT_TRUE(c.shares.count(server)) << server << " drawn " << count << " times";
    }
    for (const auto& [server, share] : c.shares) {
      EXPECT_NEAR(counts[server], share * kDraws, 1.0) << server;
    }
  }
}

TEST(ChooseDataServer, RefusesListsWithoutDrawableDataServers) {
  DataServerRecord record([] { return int64_t{0}; });
  DataServerChoice choice;
  for (const char* list : {"", "dat#1#2#0#Z;dat#1#2#-3#N", "app#1#2#5#A", "dat#1#2#5", "dat#1"}) {
    EXPECT_FALSE(ChooseDataServer(list, 12345, record, choice)) << list;
  }
  // Weight 0 is never chosen, even when every other server is in back-off.
  record.ReportFailure("A");
  ASSERT_TRUE(ChooseDataServer("dat#1#2#0#Z;dat#1#2#1#A", 0, record, choice));
  EXPECT_EQ(choice.server, "A");
}

TEST(ChooseDataServer, ReasonsNameTheChoiceAndTheSkippedServers) {
  int64_t now = 0;
  DataServerRecord record([&now] { return now; });
  record.ReportFailure("10.0.0.1:80");
  record.ReportFailure("10.0.0.1:80");
  now += 5 * kSecond;
  record.ReportSuccess("10.0.0.2:80", static_cast<uint64_t>(20 * kMiB), 10.0);
  record.ReportSuccess("10.0.0.3:80", static_cast<uint64_t>(5 * kMiB), 10.0);
  const std::string list = "dat#1#2#2#10.0.0.1:80;dat#1#2#3#10.0.0.2:80;dat#1#2#1#10.0.0.3:80";
  DataServerChoice choice;
  ASSERT_TRUE(ChooseDataServer(list, 0, record, choice));
  EXPECT_EQ(choice.reasons,
            "dat server 10.0.0.2:80 chosen (weight 3, 2.0 MiB/s, speed factor 2.00); "
            "skipped 10.0.0.1:80 (failed, 2 in a row, back-off 55 s left)");

  // Text from the service never breaks a log line, however it is made.
  ASSERT_TRUE(ChooseDataServer("dat#1#2#1#evil\r\nforged line", 0, record, choice));
  EXPECT_EQ(choice.server, "evil\r\nforged line");
  EXPECT_EQ(choice.reasons.find_first_of("\r\n"), std::string::npos) << choice.reasons;
}

TEST(UrlServerText, TakesTheHostWhereReplaceUrlHostPutsIt) {
  const struct {
    const char* url;
    const char* server;
  } kCases[] = {
      {"http://10.0.0.2:8080/books/a.zip", "10.0.0.2:8080"},
      {"http://data.host", "data.host"},
      {"file:///data.host/x/y", "data.host"},
      {"data.host/path/file", "data.host"},
      {"", ""},
  };
  for (const auto& c : kCases) EXPECT_EQ(UrlServerText(c.url), c.server) << c.url;
}

TEST(DataServerRecord, ReportsAndDrawsFromManyThreads) {
  std::atomic<int64_t> now{0};
  DataServerRecord record([&now] { return now.load(); });
  const std::string list = "dat#1#2#1#A;dat#1#2#2#B;dat#1#2#3#C";
  std::vector<std::thread> threads;
  std::atomic<int> choices{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const char* servers[] = {"A", "B", "C"};
      for (uint32_t i = 0; i < 2000; ++i) {
        const char* server = servers[(i + static_cast<uint32_t>(t)) % 3];
        if (i % 3 == 0) record.ReportFailure(server);
        if (i % 3 == 1) record.ReportSuccess(server, 1 << 20, 0.5 + t);
        DataServerChoice choice;
        if (ChooseDataServer(list, i * 2654435761u, record, choice)) ++choices;
        now += 7;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(choices.load(), 4 * 2000);
}

class DataServerOverLoopbackTest : public testing_support::ProgramDirSandbox {
 protected:
  void SetUp() override {
    ProgramDirSandbox::SetUp();
    DataServerRecord::Instance().Clear();
    DataServerRecord::Instance().SetClock([this] { return now_.load(); });
    server_.server().Get("/books/b.zip", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(kLeastMeasuredBytes, 'x'), "application/zip");
    });
    server_.Start();
  }
  void TearDown() override {
    server_.Stop();
    DataServerRecord::Instance().SetClock(platform::MonotonicMs);
    DataServerRecord::Instance().Clear();
    ProgramDirSandbox::TearDown();
  }

  std::string TodaysLog() {
    std::vector<platform::DirectoryEntry> entries;
    EXPECT_TRUE(platform::ListDirectory(Path("log"), "log*.txt", entries));
    return entries.size() == 1 ? ReadFile("log/" + entries[0].name) : std::string();
  }

  std::atomic<int64_t> now_{1000 * kSecond};
  LoopbackServer server_;
};

TEST_F(DataServerOverLoopbackTest, ARefusingServerIsLeftOutUntilItsBackOffEnds) {
  const std::string refusing = "127.0.0.1:" + std::to_string(testing_support::RefusingPort());
  const std::string good = server_.Host();
  SetParameter("serverlist", "dat#r#x#1#" + refusing + ";dat#g#x#1#" + good);

  // The refusing server is tried and fails, as a download would find it.
  std::string url = "http://" + refusing + "/books/b.zip";
  std::string text;
  ASSERT_NE(HttpRequestText(text, "GET", url), kHttpOk);
  ReportDataServerOutcome(url, false, 0, 0);

  const std::string list = GetParameter("serverlist");
  auto refusing_chosen = [&] {
    uint32_t count = 0;
    for (uint32_t k = 0; k < kDraws; ++k) {
      DataServerChoice choice;
      EXPECT_TRUE(ChooseDataServer(list, EvenDraw(k), DataServerRecord::Instance(), choice));
      count += choice.server == refusing ? 1 : 0;
    }
    return count;
  };
  EXPECT_EQ(refusing_chosen(), 0u);

  // Downloads go to the good server, and its delivery is recorded.
  for (int i = 0; i < 20; ++i) {
    std::string package = "http://old.host/books/b.zip";
    ASSERT_TRUE(ReplaceUrlHost(package));
    ASSERT_EQ(package, "http://" + good + "/books/b.zip");
  }
  url = "http://" + good + "/books/b.zip";
  const int64_t started = platform::MonotonicMs();
  ASSERT_EQ(HttpDownloadRange(Path("b.zip"), url, 0, nullptr, "b", nullptr, nullptr), kHttpOk);
  const double seconds = static_cast<double>(platform::MonotonicMs() - started) / 1000 + 0.001;
  ReportDataServerOutcome(url, true, kLeastMeasuredBytes, seconds);

  now_ += 30 * kSecond - 1;
  EXPECT_EQ(refusing_chosen(), 0u);
  now_ += 1;
  // Back in the draw; not measured yet, it keeps its plain weight.
  EXPECT_EQ(refusing_chosen(), kDraws / 2);

  const std::string log = TodaysLog();
  EXPECT_NE(log.find("dat server " + refusing + " failed, 1 in a row; left out for 30 s"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("dat server " + good + " chosen (weight 1, speed not measured yet); skipped " +
                     refusing + " (failed, 1 in a row, back-off 30 s left)"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("dat server " + good + " delivered 262144 bytes"), std::string::npos) << log;
}

}  // namespace
