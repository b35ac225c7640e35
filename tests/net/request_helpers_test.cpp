// HttpUploadForm, HttpGetToFile, HttpRequestText and HttpRequestToFile
// against real servers on loopback.
#include "net/request_helpers.h"

#include <gtest/gtest.h>

#include "tests/support/loopback_server.h"
#include "tests/support/raw_http_server.h"
#include "tests/support/sandbox.h"

namespace {

using testing_support::Answer;
using testing_support::LoopbackServer;
using testing_support::RawHttpServer;

const char* U8(const char8_t* text) {
  return reinterpret_cast<const char*>(text);
}

// A long UTF-8 text and its GBK form.
std::string Repeat(const std::string& text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

class RequestHelpersTest : public testing_support::Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    auto& s = server_.server();
    s.Get("/text", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("plain body", "text/plain");
    });
    s.Get("/binary", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string("\x01\x02\0\x03", 4), "application/octet-stream");
    });
    s.Get("/empty", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("", "text/plain");
    });
    s.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("no such page", "text/html");
    });
    s.Get("/broken", [](const httplib::Request&, httplib::Response& res) {
      res.status = 500;
      res.set_content("failure", "text/plain");
    });
    s.Get("/utf8", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(Repeat(U8(u8"中文答案"), 20000), "application/json; charset=utf-8");
    });
    s.Post("/echo", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(req.get_header_value("Content-Type") + "|" +
                          req.get_header_value("Authorization") + "|" + req.body,
                      "application/json");
    });
    s.Get("/redirect",
          [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/text"); });
    server_.Start();
  }

  LoopbackServer server_;
};

TEST_F(RequestHelpersTest, GetToFileKeepsTextAndFileAndReportsStatus) {
  struct Case {
    const char* path;
    int32_t result;
    bool is_text;
    const char* text;
    const char* status_text;
    bool file_written;
  };
  const Case cases[] = {
      {"/text", 0, true, "plain body", "", true},
      {"/redirect", 0, true, "plain body", "", true},
      {"/binary", 0, false, "", "", true},
      {"/empty", 0, true, "", "", false},  // an empty body makes no file
      {"/missing", 1009404, true, "no such page", "Not Found", false},
      {"/broken", 1009500, true, "failure", "Internal Server Error", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::string name = std::string("out-") + (c.path + 1);
    std::string file = Path(name);
    std::string text, status_text;
    bool is_text = false;
    EXPECT_EQ(
        HttpGetToFile(nullptr, false, &text, &is_text, file, &status_text, server_.Url(c.path)),
        c.result);
    EXPECT_EQ(is_text, c.is_text);
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(status_text, c.status_text);
    EXPECT_EQ(Exists(name), c.file_written);
    EXPECT_FALSE(Exists(name + ".part"));
  }
  EXPECT_EQ(ReadFile("out-binary"), std::string("\x01\x02\0\x03", 4));
}

TEST_F(RequestHelpersTest, GetToFileNeverReplacesAFileWithAnErrorPageOrAPart) {
  WriteFile("keep.dat", "the good old file");
  EXPECT_EQ(HttpGetToFile(nullptr, false, nullptr, nullptr, Path("keep.dat"), nullptr,
                          server_.Url("/missing")),
            1009404);
  EXPECT_EQ(ReadFile("keep.dat"), "the good old file");

  RawHttpServer cut([](const RawHttpServer::Request&) {
    return std::string(
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5000\r\n"
        "Connection: close\r\n\r\nonly a part");
  });
  std::string status_text;
  int32_t result = HttpGetToFile(nullptr, false, nullptr, nullptr, Path("keep.dat"), &status_text,
                                 cut.Url("/cut"));
  EXPECT_EQ(result, 1008401);
  EXPECT_EQ(status_text, "::InternetReadFile failed.");
  EXPECT_EQ(ReadFile("keep.dat"), "the good old file");
  EXPECT_FALSE(Exists("keep.dat.part"));
}

TEST_F(RequestHelpersTest, GetToFileCancelledBeforeTheRequestSendsNothing) {
  platform::Event cancel;
  cancel.Set();
  std::string text;
  EXPECT_EQ(HttpGetToFile(&cancel, false, &text, nullptr, {}, nullptr, server_.Url("/text")),
            1001002);
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(RequestHelpersTest, GetToFileOfAnUnreachableServerIsAClientError) {
  std::string status_text;
  int32_t result =
      HttpGetToFile(nullptr, false, nullptr, nullptr, {}, &status_text, "http://127.0.0.1:1/x");
  EXPECT_EQ(result, 1008406);
  EXPECT_EQ(status_text, "::HttpSendRequest failed.");
}

TEST_F(RequestHelpersTest, RequestTextStatusesAndUnreachableServer) {
  std::string answer = "stale";
  EXPECT_EQ(HttpRequestText(answer, "GET", server_.Url("/broken")), 1008500);
  EXPECT_EQ(HttpRequestText(answer, "GET", server_.Url("/missing")), 1008404);
  answer = "stale";
  EXPECT_EQ(HttpRequestText(answer, "GET", "http://127.0.0.1:1/x"), 1008000);
  EXPECT_EQ(answer, "");
  EXPECT_EQ(HttpRequestText(answer, "GET", "http://127.0.0.1:99999/x"), 1008000);
}

TEST_F(RequestHelpersTest, RequestTextConvertsUtf8AndSendsBodyAndHeaders) {
  std::string answer;
  ASSERT_EQ(HttpRequestText(answer, "GET", server_.Url("/utf8")), 0);
  EXPECT_EQ(answer, Repeat("中文答案", 20000));  // the source's literals are GBK

  std::string body = U8(u8"{\"UID\":\"张三\"}");
  ASSERT_EQ(HttpRequestText(answer, "POST", server_.Url("/echo?123"), body.data(), body.size(),
                            "Content-Type: application/json;charset:utf-8\r\n"
                            "Authorization: tok-1\r\n"),
            0);
  EXPECT_EQ(answer, "application/json;charset:utf-8|tok-1|{\"UID\":\"张三\"}");

  // Without extra headers the default Content-Type goes out.
  ASSERT_EQ(HttpRequestText(answer, "POST", server_.Url("/echo"), "x", 1), 0);
  EXPECT_EQ(answer, "text/plain;charset:utf-8||x");
  auto seen = server_.Requests().back();
  EXPECT_EQ(seen.headers.find("User-Agent")->second, kBrowserUserAgent);
}

TEST_F(RequestHelpersTest, RequestTextOfACutOffAnswerIsAFailure) {
  RawHttpServer cut([](const RawHttpServer::Request&) {
    return std::string("HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n{\"Ret");
  });
  std::string answer;
  EXPECT_EQ(HttpRequestText(answer, "GET", cut.Url("/cut")), 1008000);
}

TEST_F(RequestHelpersTest, RequestToFileWritesOnlyWholeSuccessfulAnswers) {
  ASSERT_EQ(HttpRequestToFile("GET", server_.Url("/text"), Path("deep/dir/cover.png")), 0);
  EXPECT_EQ(ReadFile("deep/dir/cover.png"), "plain body");
  EXPECT_EQ(HttpRequestToFile("GET", server_.Url("/missing"), Path("none.png")), 1008404);
  EXPECT_FALSE(Exists("none.png"));

  RawHttpServer cut([](const RawHttpServer::Request&) {
    return std::string("HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\nPNG");
  });
  EXPECT_EQ(HttpRequestToFile("GET", cut.Url("/cut"), Path("cut.png")), 1008000);
  EXPECT_FALSE(Exists("cut.png"));
  EXPECT_FALSE(Exists("cut.png.part"));
}

class UploadFormTest : public testing_support::Sandbox {};

TEST_F(UploadFormTest, AnswerIsConvertedOnlyWhenItNamesUtf8) {
  struct Case {
    std::string content_type;
    std::string body;
    std::string answer;
  };
  const std::string long_utf8 = Repeat(U8(u8"上传成功"), 30000);
  const Case cases[] = {
      {"text/plain; charset=utf-8", long_utf8, Repeat("上传成功", 30000)},
      {"application/json;charset=UTF-8", U8(u8"好"), "好"},
      {"text/plain", "已经是GBK", "已经是GBK"},
      {"text/plain", std::string("cut\0here", 8), "cut"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content_type);
    RawHttpServer server([&](const RawHttpServer::Request&) {
      return Answer("HTTP/1.1 200 OK", "Content-Type: " + c.content_type + "\r\n", c.body);
    });
    std::string answer, error;
    HttpFieldMap fields = {{"name", "value"}};
    EXPECT_EQ(HttpUploadForm(answer, fields, {}, "127.0.0.1", std::stoi(server.Url("").substr(17)),
                             "/up", error),
              0);
    EXPECT_TRUE(answer == c.answer) << answer.size() << " vs " << c.answer.size();
  }
}

TEST_F(UploadFormTest, StatusesAndFailuresBeforeAndAfterTheAnswer) {
  WriteFile("photo.dat", "bytes");
  RawHttpServer server([](const RawHttpServer::Request& request) {
    if (request.head.find("POST /fail") == 0) {
      return Answer("HTTP/1.1 500 Internal Server Error", "", "server says no");
    }
    if (request.head.find("POST /cut") == 0) {
      return std::string("HTTP/1.1 200 OK\r\nContent-Length: 50\r\nConnection: close\r\n\r\nab");
    }
    return std::string("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nno length given");
  });
  int port = std::stoi(server.Url("").substr(17));
  HttpFieldMap files = {{"photo", Path("photo.dat")}};
  HttpFieldMap headers = {{"X-Token", "abc"}};
  std::string answer, error;
  EXPECT_EQ(HttpUploadForm(answer, {}, files, "127.0.0.1", port, "/fail", error, &headers),
            1009500);
  EXPECT_EQ(answer, "server says no");
  EXPECT_NE(server.Requests().back().head.find("\r\nX-Token: abc"), std::string::npos);
  EXPECT_NE(server.Requests().back().body.find("bytes"), std::string::npos);

  // An answer without Content-Length ends where its data ends.
  EXPECT_EQ(HttpUploadForm(answer, {}, files, "127.0.0.1", port, "/plain", error), 0);
  EXPECT_EQ(answer, "no length given");

  EXPECT_EQ(HttpUploadForm(answer, {}, files, "127.0.0.1", port, "/cut", error), 1008401);
  EXPECT_EQ(error, "::InternetReadFile failed.");

  size_t requests = server.Requests().size();
  HttpFieldMap missing = {{"photo", Path("absent.dat")}};
  EXPECT_EQ(HttpUploadForm(answer, {}, missing, "127.0.0.1", port, "/up", error), 1008000);
  EXPECT_EQ(error, "http出错");
  EXPECT_EQ(server.Requests().size(), requests);

  HttpFieldMap bad_header = {{"X-Empty", ""}};
  EXPECT_EQ(HttpUploadForm(answer, {}, {}, "127.0.0.1", port, "/up", error, &bad_header), 1008000);
  EXPECT_EQ(HttpUploadForm(answer, {}, {}, "127.0.0.1", testing_support::kClosedPort, "/up", error),
            1008000);
  EXPECT_EQ(error, "http出错");
}

}  // namespace
