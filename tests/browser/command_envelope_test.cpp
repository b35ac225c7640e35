#include "app/command_envelope.h"

#include <gtest/gtest.h>

#include "tests/browser/browser_fixture.h"
#include "util/gbk_json.h"

namespace {

class CommandEnvelope : public testing_support::BrowserFixture {};

// A window whose handler knows "Echo" and answers it with a text of its own.
class EchoWindow : public CDialogIE_Interface {
 public:
  bool OnCommand(std::string& reply, const std::string&, const cJSON* command,
                 const std::vector<std::string>& header, int& code, std::string& message) override {
    if (header[0] != "Echo") return false;
    const cJSON* para = cJSON_GetObjectItem(command, "Para");
    if (const char* text = JsonStringMember(para, "Text")) {
      reply = text;
    } else {
      code = 7;
      message = "no text";
    }
    return true;
  }
};

const char kFullCommand[] =
    R"({"Function":"Authenticate","Callback":"cb","SessionID":"s1","ID":"9","Para":{}})";

TEST_F(CommandEnvelope, StandardReplyIsFormattedWithMembersInOrder) {
  CDialogIE_Interface window;
  EXPECT_EQ(
      window.ExecuteCommand(kFullCommand),
      "{\n\t\"Function\":\t\"Authenticate\",\n\t\"Callback\":\t\"cb\",\n\t\"SessionID\":\t\"s1\",\n"
      "\t\"ID\":\t\"9\",\n\t\"Return\":\t\"0\",\n\t\"Status\":\t\"0\",\n\t\"Message\":\t\"\"\n}");
}

struct EnvelopeCase {
  const char* command;
  int code;
  const char* message;
  size_t echoed;  // header members present in the reply
};

TEST_F(CommandEnvelope, RepliesToEachKindOfCommand) {
  const EnvelopeCase cases[] = {
      {kFullCommand, 0, "", 4},
      {R"({"Function":"DBAccess","Callback":"","SessionID":"","ID":"","Para":{}})", 0, "", 4},
      {R"({"function":"authenticate","callback":"","sessionid":"","id":"","para":{}})", 0, "", 4},
      {R"({"Function":"Authenticate","Callback":"c","SessionID":"","ID":"","Para":{}} trailing)", 0,
       "", 4},
      {R"({"Function":"Authenticate","Callback":"c","ID":"","Para":{}})", 1002000,
       "缺关键字: SessionID", 2},
      {R"({"Function":"Authenticate","Callback":"c","SessionID":"","ID":""})", 1002000,
       "缺关键字: Para", 4},
      {R"("just a string")", 1002000, "缺关键字: Function", 0},
      {R"({"Function":"Nope","Callback":"","SessionID":"","ID":"","Para":{}})", 2002000,
       "DesktopApp undefined Function:Nope", 4},
      {R"({"Function":12,"Callback":"","SessionID":"","ID":"","Para":{}})", 2002000,
       "DesktopApp undefined Function:", 4},
      // The rest is taken from where the JSON library stopped.
      {R"({"Function":"x", oops})", 1002000, "JSON格式有错:ops}", 0},
      {R"({"Function":"NewWindow","Callback":"","SessionID":"","ID":"","Para":{"URL":"u","ID":"1",)"
       R"("Session":"0","Show":"1","JS_Start":""}})",
       1002000, "缺关键字: JS_Inject", 4},
  };
  for (const auto& c : cases) {
    CDialogIE_Interface window;
    JsonPtr reply = ParseGbkJson(window.ExecuteCommand(c.command));
    ASSERT_TRUE(reply) << c.command;
    EXPECT_STREQ(JsonStringMember(reply.get(), "Return"), std::to_string(c.code).c_str())
        << c.command;
    EXPECT_STREQ(JsonStringMember(reply.get(), "Status"), c.code == 0 ? "0" : "1") << c.command;
    EXPECT_STREQ(JsonStringMember(reply.get(), "Message"), c.message) << c.command;
    EXPECT_EQ(static_cast<size_t>(cJSON_GetArraySize(reply.get())), c.echoed + 3) << c.command;
    EXPECT_EQ(window.command_queue().size(), 0u) << c.command;
  }
}

TEST_F(CommandEnvelope, NewWindowQueuesItsSixValues) {
  CDialogIE_Interface window;
  std::string reply = window.ExecuteCommand(
      R"j({"function":"newwindow","Callback":"c","SessionID":"s","ID":"i","Para":{"URL":"http://x/",)j"
      R"j("ID":"7","Session":"1","Show":"0","JS_Start":"go('1')","JS_Inject":"var a=1;"}})j");
  EXPECT_NE(reply.find("\"Return\":\t\"0\""), std::string::npos);
  auto command = window.command_queue().Take();
  ASSERT_NE(command, nullptr);
  EXPECT_EQ(command->kind, kPageOpenWindow);
  EXPECT_EQ(command->header, (std::vector<std::string>{"newwindow", "c", "s", "i", ""}));
  EXPECT_EQ(command->texts,
            (std::vector<std::string>{"http://x/", "7", "1", "0", "go('1')", "var a=1;"}));
}

TEST_F(CommandEnvelope, HandlerReplyIsReturnedByteForByte) {
  EchoWindow window;
  EXPECT_EQ(
      window.ExecuteCommand(
          R"({"Function":"Echo","Callback":"","SessionID":"","ID":"","Para":{"Text":"raw \u0041 text"}})"),
      "raw A text");
  JsonPtr failed = ParseGbkJson(window.ExecuteCommand(
      R"({"Function":"Echo","Callback":"","SessionID":"","ID":"","Para":{}})"));
  EXPECT_STREQ(JsonStringMember(failed.get(), "Return"), "7");
  EXPECT_STREQ(JsonStringMember(failed.get(), "Message"), "no text");
}

TEST_F(CommandEnvelope, ChineseTextsSurviveEvenWhenTheirSecondByteIsABackslash) {
  // "誠" is 0xD5 0x5C in GBK: byte-wise JSON handling would take its second
  // byte for an escape.
  const std::string tricky = "\xD5\x5C";
  EchoWindow window;
  std::string command = "{\"Function\":\"Echo\",\"Callback\":\"" + tricky +
                        "\",\"SessionID\":\"\",\"ID\":\"\",\"Para\":{\"Text\":\"" + tricky +
                        "数字\"}}";
  EXPECT_EQ(window.ExecuteCommand(command), tricky + "数字");
  CDialogIE_Interface plain;
  std::string unknown = "{\"Function\":\"" + tricky +
                        "\",\"Callback\":\"\",\"SessionID\":\"\",\"ID\":\"\",\"Para\":{}}";
  JsonPtr reply = ParseGbkJson(plain.ExecuteCommand(unknown));
  EXPECT_EQ(std::string(JsonStringMember(reply.get(), "Message")),
            "DesktopApp undefined Function:" + tricky);
}

TEST_F(CommandEnvelope, AppServerSettingsComeFromTheInstanceIni) {
  {
    CDialogIE_Interface defaults;
    EXPECT_EQ(defaults.app_server().ui_use_file, 1);
    EXPECT_EQ(defaults.app_server().db_use_file, 0);
    EXPECT_EQ(defaults.app_server().port, 80);
    EXPECT_EQ(defaults.app_server().server, "127.0.0.1");
    EXPECT_EQ(defaults.app_server().uri, "/");
  }
  WriteInstanceIni("[system]\nserverUI=1\nserverdata=0\n[appserver]\nport=8080\nServer=" +
                   std::string(120, 'h') + "\nuri=/app/\n");
  CDialogIE_Interface configured;
  EXPECT_EQ(configured.app_server().ui_use_file, 0);
  EXPECT_EQ(configured.app_server().db_use_file, 1);
  EXPECT_EQ(configured.app_server().port, 8080);
  EXPECT_EQ(configured.app_server().server, std::string(99, 'h'));
  EXPECT_EQ(configured.app_server().uri, "/app/");
}

}  // namespace
