#include "net/http_client.h"

#include <gtest/gtest.h>

#include <regex>

#include "net/request_helpers.h"
#include "net/url_parts.h"
#include "tests/support/raw_http_server.h"
#include "tests/support/sandbox.h"

namespace {

using Vexan::CHttpClientMapT;
using Vexan::CHttpClientT;
using Vexan::httpclientexceptionA;

TEST(UrlPartsTest, SplitsAndRefusesAsTheClientExpects) {
  struct Case {
    const char* url;
    int result;
    const char* host;
    int port;
    bool secure;
    const char* object;
  };
  const Case cases[] = {
      {"http://example.org", kUrlOk, "example.org", 80, false, "/"},
      {"http://example.org?a=1", kUrlOk, "example.org", 80, false, "/?a=1"},
      {"http://example.org#top", kUrlOk, "example.org", 80, false, "/#top"},
      {"http://h:8080/p/q?x=1#f", kUrlOk, "h", 8080, false, "/p/q?x=1#f"},
      {"HtTpS://h/x", kUrlOk, "h", 443, true, "/x"},
      {"https://h:65535", kUrlOk, "h", 65535, true, "/"},
      {"h/x", kUrlOk, "h", 80, false, "/x"},
      {"http://h:70000/x", kUrlInvalidPort, "", 0, false, ""},
      {"http://h:123456/x", kUrlInvalidPort, "", 0, false, ""},
      {"http://h:/x", kUrlInvalidPort, "", 0, false, ""},
      {"http://h:0/x", kUrlInvalidPort, "", 0, false, ""},
      {"http://h:8a/x", kUrlInvalidPort, "", 0, false, ""},
      {"http:///x", kUrlInvalid, "", 0, false, ""},
      {"http://", kUrlInvalid, "", 0, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    UrlParts parts;
    ASSERT_EQ(AnalyzeUrl(c.url, parts), c.result);
    if (c.result != kUrlOk) continue;
    EXPECT_EQ(parts.host, c.host);
    EXPECT_EQ(parts.port, c.port);
    EXPECT_EQ(parts.secure, c.secure);
    EXPECT_EQ(parts.object, c.object);
  }
}

TEST(UrlPartsTest, TransportUrlEscapesBytesThatCannotStandInAUrl) {
  UrlParts parts;
  ASSERT_EQ(AnalyzeUrl("http://h/书 1.zip?a=b", parts), kUrlOk);
  EXPECT_EQ(TransportUrl(parts), "http://h:80/%CA%E9%201.zip?a=b");
}

TEST(HttpClientMapTest, OrdersNamesWithoutCaseAndKeepsEqualNamesInOrder) {
  CHttpClientMapT map;
  map.Add("b", "1");
  map.Add("A", "2");
  map.Add("x", "first");
  map.Add("X", "second");
  map.Add("x", "third");
  std::vector<std::string> order;
  for (const auto& [name, entry] : map) order.push_back(name + "=" + entry.value);
  EXPECT_EQ(order, (std::vector<std::string>{"A=2", "b=1", "x=first", "X=second", "x=third"}));
  ASSERT_NE(map.Get("X"), nullptr);
  EXPECT_EQ(map.Get("X")->value, "first");
  map.RemoveAll("X");
  EXPECT_EQ(map.Get("x"), nullptr);
  EXPECT_EQ(map.Count(), 2u);
}

// The message of the exception fn throws, and its code.
template <typename Fn>
std::pair<int, std::string> Thrown(Fn fn) {
  try {
    fn();
  } catch (const httpclientexceptionA& e) {
    return {e.LastError(), e.GetErrMsg()};
  }
  return {-1, "nothing thrown"};
}

TEST(HttpClientTest, ArgumentChecksNameClassOperationAndArgument) {
  CHttpClientT client;
  struct Case {
    const char* name;
    const char* value;
    const char* message;
  };
  const Case cases[] = {
      {nullptr, "v", "CHttpClientT::AddHeader: szName can not be NULL."},
      {"", "v", "CHttpClientT::AddHeader: szName can not be an empty string."},
      {"n", nullptr, "CHttpClientT::AddHeader: szValue can not be NULL."},
      {"n", "", "CHttpClientT::AddHeader: szValue can not be an empty string."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Thrown([&] { client.AddHeader(c.name, c.value); }),
              std::make_pair(0, std::string(c.message)));
  }
  EXPECT_EQ(Thrown([&] { (void)client.PostStat().TotalCount(); }),
            std::make_pair(0, std::string("CHttpPostStatT::TotalCount: The post context is not "
                                          "active.")));
  EXPECT_EQ(Thrown([&] { (void)client._ProceedUploadContext(10); }),
            std::make_pair(104, std::string("The post context is not started yet.")));
  EXPECT_EQ(Thrown([&] { (void)client.SendGet("http://h:70000/"); }),
            std::make_pair(107, std::string("The port number is not valid.")));
  EXPECT_EQ(Thrown([&] { (void)client.SendGet("http:///x"); }),
            std::make_pair(103, std::string("The requested URL is not a valid URL.")));
  EXPECT_EQ(Vexan::HttpClientErrorMessage(603, "/x/y"),
            "OpenFile (::CreateFile) failed (\"/x/y\").");
  EXPECT_EQ(Vexan::HttpClientErrorMessage(1234), "user-defined error message");
}

TEST(HttpClientTest, BoundaryIsAFreshGuidInLowerCaseHex) {
  CHttpClientT a, b;
  std::regex form("----QUIMB-[0-9a-f]{32}-");
  EXPECT_TRUE(std::regex_match(a.Boundary(), form)) << a.Boundary();
  EXPECT_NE(a.Boundary(), b.Boundary());
  EXPECT_EQ(a.ContentTypeValue(), "multipart/form-data; boundary=" + a.Boundary());
}

// A server that keeps the raw body of every upload.
class UploadTest : public testing_support::Sandbox {
 protected:
  // Runs the whole upload step by step and returns the answer's status.
  int Upload(CHttpClientT& client, size_t step = 10240) {
    client.StartUpload(server_.Url("/up"));
    total_announced_ = client.PostStat().TotalByte();
    std::unique_ptr<Vexan::CHttpResponseT> response;
    while (!(response = client._ProceedUploadContext(step))) {
    }
    return response->GetStatus();
  }

  std::string LastBody() const { return server_.Requests().back().body; }
  std::string LastHead() const { return server_.Requests().back().head + "\r\n"; }

  testing_support::RawHttpServer server_{[](const testing_support::RawHttpServer::Request&) {
    return testing_support::Answer("HTTP/1.1 200 OK", "Content-Type: text/plain\r\n", "stored");
  }};
  uint64_t total_announced_ = 0;
};

TEST_F(UploadTest, BodyHasItsPartsInNameOrderAndExactlyTheAnnouncedLength) {
  WriteFile("empty.dat", "");
  std::string note = "A short note for the class.\nSecond line.\n";
  WriteFile("note.txt", note);
  std::string big(150000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  WriteFile("big.bin", big);

  CHttpClientT client;
  client.AddParam("b", "second");
  client.AddParam("A", "first");
  client.AddParam("x", "");
  client.AddParam("x", "again");
  client.AddParam("file1", Path("empty.dat").c_str(), CHttpClientMapT::kFileFlag);
  client.AddParam("file2", Path("note.txt").c_str(), CHttpClientMapT::kFileFlag);
  client.AddParam("file3", Path("big.bin").c_str(), CHttpClientMapT::kFileFlag);
  ASSERT_EQ(Upload(client, 4000), 200);

  const std::string b = client.Boundary();
  auto text_part = [&](const std::string& name, const std::string& value) {
    return "--" + b + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
           "\r\n";
  };
  auto file_part = [&](const std::string& name, const std::string& file, const std::string& type,
                       const std::string& data) {
    return "--" + b + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" +
           Path(file) + "\"\r\nContent-Type: " + type + "\r\n\r\n" + data + "\r\n";
  };
  std::string expected = text_part("A", "first") + text_part("b", "second") +
                         file_part("file1", "empty.dat", "application/octet-stream", "") +
                         file_part("file2", "note.txt", "text/plain", note) +
                         file_part("file3", "big.bin", "application/octet-stream", big) +
                         text_part("x", "") + text_part("x", "again") + "--" + b + "--\r\n";
  std::string body = LastBody();
  EXPECT_EQ(body.size(), expected.size());
  EXPECT_TRUE(body == expected);
  EXPECT_EQ(total_announced_, body.size());
  EXPECT_NE(LastHead().find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"),
            std::string::npos);
  EXPECT_NE(LastHead().find("\r\nContent-Type: " + client.ContentTypeValue() + "\r\n"),
            std::string::npos);
  EXPECT_NE(LastHead().find("\r\nUser-Agent: Vexan HTTP Client Class\r\n"), std::string::npos);
  EXPECT_NE(LastHead().find("\r\nCache-Control: no-cache\r\n"), std::string::npos);
  EXPECT_FALSE(client.IsPostActive());
}

TEST_F(UploadTest, NoParametersSendOnlyTheClosingBoundary) {
  CHttpClientT client;
  ASSERT_EQ(Upload(client), 200);
  EXPECT_EQ(LastBody(), "\r\n--" + client.Boundary() + "--\r\n");
}

TEST_F(UploadTest, Utf8FlagEncodesNamesValuesAndFileNames) {
  CHttpClientT client;
  client.SetUseUtf8(true);
  client.AddParam("名", "值");  // GBK in the source's literal form
  ASSERT_EQ(Upload(client), 200);
  std::string body = LastBody();
  EXPECT_NE(body.find(reinterpret_cast<const char*>(u8"name=\"名\"\r\n\r\n值\r\n")),
            std::string::npos);
  EXPECT_EQ(Thrown([&] {
              client.StartUpload(server_.Url("/up"));
              client.SetUseUtf8(false);
            }).second,
            "CHttpClientT::SetUseUtf8: It is not allowed to call this method if the POST context "
            "is active.");
  client.AbortTransfer();
  EXPECT_FALSE(client.IsPostActive());
}

TEST_F(UploadTest, MissingFileIsRefusedBeforeAnythingIsSent) {
  CHttpClientT client;
  client.AddParam("f", Path("absent.bin").c_str(), CHttpClientMapT::kFileFlag);
  auto [code, message] = Thrown([&] { client.StartUpload(server_.Url("/up")); });
  EXPECT_EQ(code, 603);
  EXPECT_EQ(message, "OpenFile (::CreateFile) failed (\"" + Path("absent.bin") + "\").");
  EXPECT_TRUE(server_.Requests().empty());
}

TEST(UploadFormUrlTest, PortEightyIsLeftOut) {
  EXPECT_EQ(UploadFormUrl("h", 80, "/up"), "http://h/up");
  EXPECT_EQ(UploadFormUrl("h", 8080, "/up"), "http://h:8080/up");
}

}  // namespace
