// The bounds of every transfer: answers held as text stop past their limit,
// a package download never writes past the length its answer declared, a
// server that drips bytes fails the transfer, and a cancel ends a transfer
// whose read is waiting.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "net/http_client.h"
#include "net/request_helpers.h"
#include "net/transfer_limits.h"
#include "net/transfer_seams.h"
#include "tests/support/loopback_server.h"
#include "tests/support/raw_http_server.h"
#include "tests/support/sandbox.h"
#include "tests/support/slow_endpoints.h"

namespace {

using Clock = std::chrono::steady_clock;
using testing_support::LoopbackServer;
using testing_support::RawHttpServer;

constexpr size_t kMiB = size_t{1} << 20;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A text body of exactly 'bytes' bytes (chunked: no length announced), or
// one that never ends when bytes is 0.
void ServeText(httplib::Server& server, const std::string& path, size_t bytes) {
  server.Get(path, [bytes](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("text/plain", [bytes](size_t offset, httplib::DataSink& sink) {
      static const std::string block(kMiB, 'a');
      if (bytes != 0 && offset >= bytes) {
        sink.done();
        return true;
      }
      size_t n = bytes == 0 ? block.size() : std::min(block.size(), bytes - offset);
      return sink.write(block.data(), n);
    });
  });
}

class AnswerLimitsTest : public testing_support::Sandbox {
 protected:
  void TearDown() override {
    net_testing::ResetTransferSeams();
    Sandbox::TearDown();
  }
};

TEST_F(AnswerLimitsTest, TextAnswersStopPastTheirLimit) {
  LoopbackServer server;
  ServeText(server.server(), "/endless", 0);
  ServeText(server.server(), "/at-limit", kMostTextAnswerBytes);
  server.Start();

  std::string answer = "old";
  EXPECT_EQ(HttpRequestText(answer, "GET", server.Url("/endless")), kHttpNoBufferMemory);
  EXPECT_EQ(answer, "");
  EXPECT_EQ(HttpRequestText(answer, "GET", server.Url("/at-limit")), 0);
  EXPECT_EQ(answer.size(), kMostTextAnswerBytes);

  // Server lists, server tests and page downloads read through the client.
  std::string text, status_text;
  EXPECT_EQ(HttpGetToFile(nullptr, false, &text, nullptr, {}, &status_text, server.Url("/endless")),
            kHttpTransportError + Vexan::kErrOutOfMemory);
  EXPECT_LE(text.size(), kMostTextAnswerBytes);
  EXPECT_EQ(status_text, "Out of memory.");
  text.clear();
  EXPECT_EQ(HttpGetToFile(nullptr, false, &text, nullptr, {}, nullptr, server.Url("/at-limit")), 0);
  EXPECT_EQ(text.size(), kMostTextAnswerBytes);
}

TEST_F(AnswerLimitsTest, BodyLimitOfAGetRefusesALongerBodyAndKeepsNoFile) {
  LoopbackServer server;
  ServeText(server.server(), "/ten", 10);
  server.Start();
  EXPECT_EQ(HttpGetToFile(nullptr, false, nullptr, nullptr, Path("f"), nullptr, server.Url("/ten"),
                          10),
            0);
  EXPECT_EQ(ReadFile("f"), std::string(10, 'a'));
  EXPECT_EQ(HttpGetToFile(nullptr, false, nullptr, nullptr, Path("g"), nullptr, server.Url("/ten"),
                          9),
            kHttpTransportError + Vexan::kErrOutOfMemory);
  EXPECT_FALSE(Exists("g"));
}

TEST_F(AnswerLimitsTest, DownloadNeverWritesPastTheDeclaredLength) {
  struct Case {
    const char* name;
    std::string answer;
    int32_t result;
    const char* written;
  };
  const std::string chunked = "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
  const Case cases[] = {
      {"more bytes than Content-Length",
       "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhelloEXTRA", 0, "hello"},
      {"chunked past Content-Length",
       "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n" + chunked + "5\r\nhello\r\n5\r\nEXTRA\r\n0\r\n\r\n",
       1008000 + 12152, "hello"},
      {"chunked, exactly Content-Length",
       "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n" + chunked + "3\r\nhel\r\n2\r\nlo\r\n0\r\n\r\n", 0,
       "hello"},
      {"Content-Length past the range",
       "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-4/100\r\nContent-Length: 10\r\n"
       "Connection: close\r\n\r\nhelloEXTRA",
       1008000 + 12152, "hello"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string answer = c.answer;
    RawHttpServer server([answer](const RawHttpServer::Request&) { return answer; });
    std::remove(Path("p.zip").c_str());
    EXPECT_EQ(HttpDownloadRange(Path("p.zip"), server.Url("/p.zip"), 0, nullptr, nullptr, nullptr,
                                nullptr),
              c.result);
    EXPECT_EQ(ReadFile("p.zip"), c.written);
  }
}

TEST_F(AnswerLimitsTest, ADrippingServerFailsTheTransfer) {
  net_testing::SetLowSpeedLimit({1024, 2});
  LoopbackServer server;
  // 300 bytes in 30 s: a byte always comes before any stall timer runs out.
  testing_support::ServeDrip(server.server(), "/drip", 300, std::chrono::milliseconds(100));
  server.Start();

  struct Case {
    const char* name;
    std::function<int32_t()> run;
    int32_t result;
  };
  const Case cases[] = {
      {"HttpRequestText",
       [&] {
         std::string answer;
         return HttpRequestText(answer, "GET", server.Url("/drip"));
       },
       kHttpTransportError},
      {"HttpGetToFile",
       [&] {
         std::string text;
         return HttpGetToFile(nullptr, false, &text, nullptr, {}, nullptr, server.Url("/drip"));
       },
       kHttpTransportError + Vexan::kErrReadFile},
      {"HttpDownloadRange",
       [&] {
         return HttpDownloadRange(Path("d.zip"), server.Url("/drip"), 0, nullptr, nullptr, nullptr,
                                  nullptr);
       },
       kHttpTransportError + kNetErrorTimeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto start = Clock::now();
    EXPECT_EQ(c.run(), c.result);
    EXPECT_LT(SecondsSince(start), 15.0);
  }
}

TEST_F(AnswerLimitsTest, CancelEndsATransferWhoseReadWaits) {
  LoopbackServer server;
  testing_support::ServeDrip(server.server(), "/drip", 300, std::chrono::milliseconds(100));
  server.Start();

  struct Case {
    const char* name;
    std::function<int32_t(platform::Event&, std::string&)> run;
    int32_t result;
    const char* status_text;
  };
  const Case cases[] = {
      {"HttpDownloadRange",
       [&](platform::Event& cancel, std::string&) {
         return HttpDownloadRange(Path("c.zip"), server.Url("/drip"), 0, &cancel, nullptr, nullptr,
                                  nullptr);
       },
       kHttpCancelled, ""},
      {"HttpGetToFile",
       [&](platform::Event& cancel, std::string& status_text) {
         std::string text;
         return HttpGetToFile(&cancel, false, &text, nullptr, Path("c.txt"), &status_text,
                              server.Url("/drip"));
       },
       kHttpTransportError, kUserInterruptText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::Event cancel;
    std::thread canceller([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      cancel.Set();
    });
    std::string status_text;
    auto start = Clock::now();
    EXPECT_EQ(c.run(cancel, status_text), c.result);
    double took = SecondsSince(start);
    canceller.join();
    EXPECT_LT(took, 5.0);
    EXPECT_EQ(status_text, c.status_text);
  }
  EXPECT_FALSE(Exists("c.txt"));
}

}  // namespace
