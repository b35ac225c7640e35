#include "services/transfer_methods.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "browser/dialog_ie.h"
#include "browser/page_command.h"
#include "platform/codepage.h"
#include "services/service_methods.h"
#include "tests/support/loopback_server.h"
#include "tests/support/program_dir.h"
#include "tests/support/raw_http_server.h"

namespace {

using Args = std::vector<ScriptValue>;

ScriptValue Text(const std::string& gbk) {
  return ScriptValue::String(platform::GbkToUtf16(gbk));
}

class TransferMethods : public testing_support::ProgramDirSandbox {
 protected:
  void SetUp() override {
    ProgramDirSandbox::SetUp();
    auto& http = server_.server();
    http.Get("/files/book.zip", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("the book", "application/zip");
    });
    http.Post("/up", [](const httplib::Request& req, httplib::Response& res) {
      std::string seen = "fields:";
      for (const auto& [name, item] : req.files) {
        seen += name + "=" + (item.filename.empty() ? item.content : "<" + item.content + ">") + ";";
      }
      seen += " x-class=" + req.get_header_value("X-Class");
      res.set_content(seen, "text/plain; charset=utf-8");
    });
    http.Post("/refused", [](const httplib::Request&, httplib::Response& res) {
      res.status = 403;
      res.set_content("no", "text/plain");
    });
    server_.Start();
    WriteFile("work.txt", "homework");
  }
  void TearDown() override {
    server_.Stop();
    ProgramDirSandbox::TearDown();
  }

  // Calls a method the way the window does.
  ScriptValue Call(int id, const Args& arguments) {
    ScriptValue result;
    EXPECT_TRUE(InvokeServiceMethod(id, arguments, queue_, result));
    return result;
  }
  Args Upload(const std::string& fields, int count) {
    Args all = {Text("file"), Text(platform::Utf8ToGbk(Path("work.txt"))), Text("127.0.0.1"),
                ScriptValue::Int32(server_.port()), Text("/up"), Text(fields),
                Text("uploaded"), Text("X-Class :  3b \r\nbad line\r\n")};
    all.resize(static_cast<size_t>(count));
    return all;
  }

  testing_support::LoopbackServer server_;
  PageCommandQueue queue_;
};

TEST_F(TransferMethods, DownloadsIntoAFileOrSaysWhyNot) {
  WriteFile("got/.keep", "");
  const std::string target = platform::Utf8ToGbk(Path("got/book.zip"));
  EXPECT_EQ(Call(kMethodHttpDownload, {Text(server_.Url("/files/book.zip")), Text(target)})
                .integer(),
            0);
  EXPECT_EQ(ReadFile("got/book.zip"), "the book");
  EXPECT_EQ(Call(kMethodHttpDownload, {Text(server_.Url("/missing")), Text(target)}).integer(),
            1009404);
  EXPECT_EQ(ReadFile("got/book.zip"), "the book");
  // Success without a file to show for it: no name, or a folder that is not there.
  EXPECT_EQ(Call(kMethodHttpDownload, {Text(server_.Url("/files/book.zip")), Text("")}).integer(),
            1010002);
  EXPECT_EQ(Call(kMethodHttpDownload, {Text(server_.Url("/files/book.zip")),
                                       Text(platform::Utf8ToGbk(Path("none/book.zip")))})
                .integer(),
            1010002);
  EXPECT_EQ(Call(kMethodHttpDownload, {Text(server_.Url("/files/book.zip"))}).integer(),
            kUploadWrongArgumentCount);
}

TEST_F(TransferMethods, UploadsSendTheFileFieldsAndHeaders) {
  ScriptValue text = Call(kMethodHttpUpload2, Upload("a=1\r\n=2\r\nnoequals\r\nb=x=y\r\na=3", 8));
  EXPECT_EQ(platform::Utf16ToGbk(text.text()),
            "0,fields:a=3;b=x=y;file=<homework>; x-class=3b");
  // The callback runs later with the code, the answer and the error text.
  std::unique_ptr<PageCommand> callback = queue_.Take();
  ASSERT_NE(callback, nullptr);
  EXPECT_EQ(callback->texts.front(), "uploaded");
  EXPECT_EQ(std::vector<std::string>(callback->texts.begin() + 1, callback->texts.end()),
            (std::vector<std::string>{"0", "fields:a=3;b=x=y;file=<homework>; x-class=3b", ""}));
  EXPECT_EQ(queue_.Take(), nullptr);

  // Six arguments: no callback, no headers; the port may be a text.
  Args six = Upload("k=v", 6);
  six[3] = Text(std::to_string(server_.port()));
  EXPECT_EQ(Call(kMethodHttpUpload, six).integer(), 0);
  EXPECT_EQ(queue_.Take(), nullptr);
  Args refused = Upload("", 7);
  refused[4] = Text("/refused");
  EXPECT_EQ(Call(kMethodHttpUpload, refused).integer(), 1009403);
  ASSERT_NE(queue_.Take(), nullptr);
}

TEST_F(TransferMethods, WrongArgumentCountsSendNothing) {
  const size_t before = server_.Requests().size();
  for (int count : {0, 5, 9}) {
    SCOPED_TRACE(count);
    Args arguments = Upload("a=1", 8);
    arguments.resize(static_cast<size_t>(count), Text("extra"));
    EXPECT_EQ(Call(kMethodHttpUpload, arguments).integer(), 1002005);
    EXPECT_EQ(platform::Utf16ToGbk(Call(kMethodHttpUpload2, arguments).text()), "1002005,");
  }
  EXPECT_EQ(server_.Requests().size(), before);
  EXPECT_EQ(queue_.Take(), nullptr);
}

TEST_F(TransferMethods, AnAnswerLargerThanAnyPageNeedsIsRefused) {
  struct Case {
    const char* what;
    std::string answer;
  } const cases[] = {
      {"announced", "HTTP/1.1 200 OK\r\nContent-Length: 100000000000\r\n\r\nshort"},
      {"sent", "HTTP/1.1 200 OK\r\nContent-Length: 70000000\r\n\r\n" + std::string(70000000, 'a')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing_support::RawHttpServer raw([&](const testing_support::RawHttpServer::Request&) {
      return c.answer;
    });
    Args arguments = Upload("a=1", 6);
    arguments[3] = ScriptValue::Int32(raw.port());
    std::string text = platform::Utf16ToGbk(Call(kMethodHttpUpload2, arguments).text());
    EXPECT_EQ(text.substr(0, text.find(',')), "1002013") << text.substr(0, 80);
  }
}

}  // namespace
