// HttpDownloadRange against the demo service (a process of its own) and
// against loopback servers for the answers the demo does not give.
#include <gtest/gtest.h>
#include <strings.h>

#include <thread>

#include "config/program_paths.h"
#include "net/request_helpers.h"
#include "net/tls_setting.h"
#include "net/transfer_seams.h"
#include "platform/ini_file.h"
#include "tests/support/demo_service_process.h"
#include "tests/support/loopback_server.h"
#include "tests/support/program_dir.h"
#include "tests/support/raw_http_server.h"
#include "tests/support/test_certificates.h"
#include "tests/support/tls_loopback_server.h"
#include "util/md5.h"

namespace {

using testing_support::CertificateFiles;
using testing_support::CertificateSpec;
using testing_support::DemoServiceProcess;
using testing_support::TestCertificateAuthority;

const char kPackage[] = "/data/books/g1001/g1001.zip";

// Everything the callback saw, and what it should do.
struct Observer {
  std::vector<int> stages;
  std::vector<int32_t> results;
  bool headers_only_at_stage_4 = true;
  int stop_at_stage = 0;
  platform::Event* cancel_at_first_block = nullptr;
  DownloadProgress last;
  std::string raw_headers;

  static int Callback(DownloadProgress* p) {
    auto* self = static_cast<Observer*>(p->user_data);
    self->stages.push_back(p->stage);
    self->results.push_back(p->result);
    if (p->stage == 4) {
      self->raw_headers = p->raw_headers != nullptr ? p->raw_headers : "";
    } else if (p->raw_headers != nullptr) {
      self->headers_only_at_stage_4 = false;
    }
    self->last = *p;
    if (p->stage == 6 && self->cancel_at_first_block != nullptr) {
      self->cancel_at_first_block->Set();
    }
    return p->stage == self->stop_at_stage ? 1 : 0;
  }
};

std::string Md5Of(const std::string& data) {
  MD5Computer md5;
  std::string digest;
  EXPECT_TRUE(md5.TextMD5(digest, data));
  return digest;
}

class DownloadRangeTest : public testing_support::ProgramDirSandbox {
 protected:
  // The package as the demo serves it whole.
  std::string FetchWhole(DemoServiceProcess& demo) {
    EXPECT_EQ(HttpDownloadRange(Path("whole.zip"), demo.Url(kPackage), 0, nullptr, nullptr, nullptr,
                                nullptr),
              0);
    return ReadFile("whole.zip");
  }
};

TEST_F(DownloadRangeTest, HonouredRangeContinuesAtTheOffset) {
  DemoServiceProcess demo;
  ASSERT_TRUE(demo.Start(dir()));
  std::string whole = FetchWhole(demo);
  ASSERT_GT(whole.size(), 3 * kDownloadBlock);

  WriteFile("part.zip", whole.substr(0, 1000));
  Observer observer;
  ASSERT_EQ(HttpDownloadRange(Path("part.zip"), demo.Url(kPackage), 1000, nullptr, "tag-1",
                              &Observer::Callback, &observer),
            0);
  EXPECT_TRUE(ReadFile("part.zip") == whole);
  EXPECT_EQ(observer.last.stage, 7);
  EXPECT_EQ(observer.last.result, 0);
  EXPECT_EQ(observer.last.start_offset, 1000u);
  EXPECT_EQ(observer.last.has_range, 1);
  EXPECT_EQ(observer.last.total_size, whole.size());
  EXPECT_EQ(observer.last.content_length, whole.size() - 1000);
  EXPECT_EQ(observer.last.received, whole.size() - 1000);
  EXPECT_STREQ(observer.last.tag, "tag-1");
  EXPECT_EQ(observer.last.url_parts, observer.last.url_parts);
  // Stages in order: 1 to 5, one 6 per block, then 7.
  std::vector<int> expected = {1, 2, 3, 4, 5};
  size_t blocks = (whole.size() - 1000 + kDownloadBlock - 1) / kDownloadBlock;
  expected.insert(expected.end(), blocks, 6);
  expected.push_back(7);
  EXPECT_EQ(observer.stages, expected);
  EXPECT_TRUE(observer.headers_only_at_stage_4);
  EXPECT_NE(observer.raw_headers.find("206 Partial Content"), std::string::npos);
  EXPECT_NE(demo.AccessLog().find("range=bytes=1000- agent=Mozilla/4.0 (compatible; MSIE 5.0; "
                                  "Windows NT 5.0)"),
            std::string::npos);
}

TEST_F(DownloadRangeTest, IgnoredRangeWritesTheWholeFileFromZero) {
  DemoServiceProcess demo;
  ASSERT_TRUE(demo.Start(dir(), {"--ignore-ranges"}));
  // A longer earlier attempt: its stale tail must not survive.
  std::string stale(700000, 'x');
  WriteFile("pkg.zip", stale);
  Observer observer;
  ASSERT_EQ(HttpDownloadRange(Path("pkg.zip"), demo.Url(kPackage), 1000, nullptr, nullptr,
                              &Observer::Callback, &observer),
            0);
  EXPECT_EQ(observer.last.start_offset, 0u);
  EXPECT_EQ(observer.last.has_range, 0);
  EXPECT_EQ(observer.last.total_size, observer.last.content_length);
  std::string got = ReadFile("pkg.zip");
  EXPECT_EQ(got.size(), observer.last.total_size);
  EXPECT_EQ(got.substr(0, 2), "PK");
}

TEST_F(DownloadRangeTest, CallbackStopAtStageOneNeverOpensTheFile) {
  Observer observer;
  observer.stop_at_stage = 1;
  EXPECT_EQ(HttpDownloadRange(Path("sub/never.zip"), "http://127.0.0.1:1/x.zip", 0, nullptr,
                              nullptr, &Observer::Callback, &observer),
            1002020);
  EXPECT_FALSE(Exists("sub/never.zip"));
  EXPECT_EQ(observer.stages, (std::vector<int>{1, 7}));
  EXPECT_EQ(observer.results, (std::vector<int32_t>{0, 1002020}));
}

TEST_F(DownloadRangeTest, CancelEndsWithinOneBlockAndKeepsTheBytes) {
  DemoServiceProcess demo;
  ASSERT_TRUE(demo.Start(dir()));
  platform::Event cancel;
  Observer observer;
  observer.cancel_at_first_block = &cancel;
  EXPECT_EQ(HttpDownloadRange(Path("c.zip"), demo.Url(kPackage), 0, &cancel, nullptr,
                              &Observer::Callback, &observer),
            1002021);
  EXPECT_EQ(observer.last.received, kDownloadBlock);
  EXPECT_EQ(ReadFile("c.zip").size(), kDownloadBlock);

  // The kept bytes are the start of the package: resuming completes it.
  cancel.Reset();
  ASSERT_EQ(HttpDownloadRange(Path("c.zip"), demo.Url(kPackage), kDownloadBlock, &cancel, nullptr,
                              nullptr, nullptr),
            0);
  EXPECT_EQ(ReadFile("c.zip"), FetchWhole(demo));
}

TEST_F(DownloadRangeTest, DroppedTransferIsAFailureAndResumesToTheRightDigest) {
  DemoServiceProcess dropping;
  ASSERT_TRUE(dropping.Start(dir(), {"--drop-after", "150000"}));
  int32_t result = HttpDownloadRange(Path("d.zip"), dropping.Url(kPackage), 0, nullptr, nullptr,
                                     nullptr, nullptr);
  // The connection ended early: 1008000 + the system's "connection aborted".
  EXPECT_EQ(result, 1008000 + 12030);
  size_t kept = ReadFile("d.zip").size();
  EXPECT_GT(kept, 0u);
  EXPECT_LE(kept, 150000u);

  DemoServiceProcess demo;
  ASSERT_TRUE(demo.Start(Path("")));
  ASSERT_EQ(HttpDownloadRange(Path("d.zip"), demo.Url(kPackage), static_cast<uint32_t>(kept),
                              nullptr, nullptr, nullptr, nullptr),
            0);
  std::string digest;
  EXPECT_EQ(HttpRequestText(digest, "GET", demo.Url(std::string(kPackage) + ".MD5?timemark=1")), 0);
  EXPECT_EQ(Md5Of(ReadFile("d.zip")), digest);  // the first book's digest is lower case
}

TEST_F(DownloadRangeTest, StatusAndConnectionFailures) {
  DemoServiceProcess demo;
  ASSERT_TRUE(demo.Start(dir()));
  EXPECT_EQ(HttpDownloadRange(Path("a.zip"), demo.Url("/data/books/g9/g9.zip"), 0, nullptr, nullptr,
                              nullptr, nullptr),
            1008404);
  EXPECT_EQ(HttpDownloadRange(Path("b.zip"), "http://127.0.0.1:1/x.zip", 0, nullptr, nullptr,
                              nullptr, nullptr),
            1008001);
  EXPECT_EQ(
      HttpDownloadRange(Path("b.zip"), "http://:80/x.zip", 0, nullptr, nullptr, nullptr, nullptr),
      1008001);
  // Past the end of the package: the server refuses the range.
  EXPECT_EQ(HttpDownloadRange(Path("c.zip"), demo.Url(kPackage), 50000000, nullptr, nullptr,
                              nullptr, nullptr),
            1008416);
  WriteFile("dir.zip/inside", "");
  EXPECT_EQ(
      HttpDownloadRange(Path("dir.zip"), demo.Url(kPackage), 0, nullptr, nullptr, nullptr, nullptr),
      1010003);
}

TEST_F(DownloadRangeTest, FaultStatusOfTheDemoServiceComesThrough) {
  DemoServiceProcess demo;
  ASSERT_TRUE(demo.Start(dir(), {"--status", "503"}));
  EXPECT_EQ(
      HttpDownloadRange(Path("s.zip"), demo.Url(kPackage), 0, nullptr, nullptr, nullptr, nullptr),
      1008503);
}

TEST_F(DownloadRangeTest, AnswerWithoutContentLengthOrCutShortIsNoSuccess) {
  testing_support::RawHttpServer server([](const testing_support::RawHttpServer::Request& r) {
    if (r.head.find("GET /chunked") == 0) {
      return std::string(
          "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n"
          "\r\n5\r\nhello\r\n0\r\n\r\n");
    }
    return std::string(
        "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-99/100\r\n"
        "Content-Length: 100\r\nConnection: close\r\n\r\nshort");
  });
  EXPECT_EQ(HttpDownloadRange(Path("n.bin"), server.Url("/chunked"), 0, nullptr, nullptr, nullptr,
                              nullptr),
            1008000 + 12150);
  int32_t cut =
      HttpDownloadRange(Path("m.bin"), server.Url("/cut"), 0, nullptr, nullptr, nullptr, nullptr);
  EXPECT_NE(cut, 0);
  EXPECT_EQ(ReadFile("m.bin"), "short");
}

TEST_F(DownloadRangeTest, RunsOnSeveralThreadsAtOnce) {
  DemoServiceProcess demo;
  ASSERT_TRUE(demo.Start(dir()));
  const char* packages[] = {"/data/books/g1001/g1001.zip", "/data/books/g1002/g1002.zip",
                            "/data/books/g1003/g1003.zip"};
  int32_t results[3] = {-1, -1, -1};
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([&, i] {
      results[i] = HttpDownloadRange(Path("t" + std::to_string(i) + ".zip"), demo.Url(packages[i]),
                                     0, nullptr, nullptr, nullptr, nullptr);
    });
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(results[i], 0);
    std::string digest;
    ASSERT_EQ(HttpRequestText(digest, "GET", demo.Url(std::string(packages[i]) + ".MD5")), 0);
    EXPECT_TRUE(
        strcasecmp(Md5Of(ReadFile("t" + std::to_string(i) + ".zip")).c_str(), digest.c_str()) == 0);
  }
}

// https certificates: checked in full unless the INI allows the lax mode,
// which forgives a wrong name or dates that do not hold, never an issuer
// that is not trusted.
TEST_F(DownloadRangeTest, HttpsCertificatesAreCheckedUnlessTheIniAllowsLaxMode) {
  TestCertificateAuthority trusted(dir(), "trusted");
  TestCertificateAuthority stranger(dir(), "stranger");
  net_testing::SetTrustedCaFile(trusted.cert_file());
  struct NetSeamsReset {
    ~NetSeamsReset() { net_testing::ResetTransferSeams(); }
  } reset_at_end;

  CertificateSpec wrong_name;
  wrong_name.host = "tomerack.invalid";
  CertificateSpec expired;
  expired.valid_from_days = -30;
  expired.valid_to_days = -1;
  CertificateSpec not_yet_valid;
  not_yet_valid.valid_from_days = 2;
  struct Case {
    const char* name;
    CertificateFiles files;
    int32_t strict;
    int32_t lax;
  };
  const Case cases[] = {
      {"sound", trusted.Issue("sound", {}), 0, 0},
      {"wrong name", trusted.Issue("wrong-name", wrong_name), 1008003, 0},
      {"expired", trusted.Issue("expired", expired), 1008003, 0},
      {"not yet valid", trusted.Issue("not-yet-valid", not_yet_valid), 1008003, 0},
      {"unknown issuer", stranger.Issue("unknown-issuer", {}), 1008003, 1008003},
      {"unknown issuer and expired", stranger.Issue("unknown-expired", expired), 1008003,
       1008003},
      {"self-signed", {stranger.cert_file(), Path("stranger-ca.key")}, 1008003, 1008003},
  };
  WriteFile("system/tomerack.ini", "[system]\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TlsLoopbackServer server(c.files);
    ASSERT_TRUE(server.valid());
    server.server().Get("/p.zip", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("package bytes", "application/zip");
    });
    server.Start();
    std::string url = server.Url("/p.zip");
    for (bool lax : {false, true}) {
      SCOPED_TRACE(lax ? "lax" : "strict");
      ASSERT_TRUE(platform::WritePrivateProfileString(kInsecureTlsSection, kInsecureTlsKey,
                                                      lax ? "1" : "0", GetInstanceIniPath()));
      EXPECT_EQ(InsecureTlsAllowed(), lax);
      std::remove(Path("tls.zip").c_str());
      int32_t expected = lax ? c.lax : c.strict;
      EXPECT_EQ(HttpDownloadRange(Path("tls.zip"), url, 0, nullptr, nullptr, nullptr, nullptr),
                expected);
      EXPECT_EQ(ReadFile("tls.zip"), expected == 0 ? "package bytes" : "");
      // The lax mode is for package downloads only.
      std::string text;
      EXPECT_EQ(HttpRequestText(text, "GET", url), c.strict == 0 ? 0 : 1008000);
    }
  }
}

}  // namespace
