#include "browser/host_bridge.h"

#include <gtest/gtest.h>

#include "browser/dialog_ie.h"
#include "tests/browser/browser_fixture.h"
#include "util/json_tree.h"

namespace {

class HostBridge : public testing_support::BrowserFixture {};

TEST_F(HostBridge, AnswersGetAndCallAndRefusesStrangers) {
  CDialogIE* window = new CDialogIE();
  ASSERT_TRUE(window->Create());
  int status = 0;
  EXPECT_EQ(
      AnswerBridgeRequest(*window, "tok", R"({"t":"tok","op":"get","name":"testit"})", status),
      R"({"e":"window.external has no member testit"})");
  EXPECT_EQ(status, 200);
  EXPECT_EQ(
      AnswerBridgeRequest(*window, "tok", R"({"t":"tok","op":"get","name":"TestIt"})", status),
      R"({"id":1,"v":true})");
  EXPECT_EQ(AnswerBridgeRequest(*window, "tok",
                                reinterpret_cast<const char*>(
                                    u8R"({"t":"tok","op":"call","id":1,"args":["数",5]})"),
                                status),
            reinterpret_cast<const char*>(u8R"({"v":"para1:数,para2:5"})"));
  EXPECT_EQ(AnswerBridgeRequest(*window, "tok",
                                R"({"t":"tok","op":"call","id":102,"args":["http://x/"]})", status),
            R"({"v":null})");
  // "in" looks the name up and carries nothing out.
  EXPECT_EQ(
      AnswerBridgeRequest(*window, "tok", R"({"t":"tok","op":"has","name":"quitapp"})", status),
      R"({"id":121})");
  EXPECT_EQ(AnswerBridgeRequest(*window, "tok", R"({"t":"tok","op":"has","name":"junk"})", status),
            R"({"id":-1})");
  // An unassigned id answers undefined: no "v".
  EXPECT_EQ(
      AnswerBridgeRequest(*window, "tok", R"({"t":"tok","op":"call","id":104,"args":[]})", status),
      "{}");

  AnswerBridgeRequest(*window, "tok", R"({"t":"other","op":"get","name":"QuitApp"})", status);
  EXPECT_EQ(status, 403);
  AnswerBridgeRequest(*window, "tok", R"({"op":"get","name":"QuitApp"})", status);
  EXPECT_EQ(status, 403);
  AnswerBridgeRequest(*window, "", R"({"t":"","op":"get","name":"QuitApp"})", status);
  EXPECT_EQ(status, 403);
  AnswerBridgeRequest(*window, "tok", "not json", status);
  EXPECT_EQ(status, 400);
  EXPECT_EQ(factory_.last->close_requests, 0);
  CDialogIE::CloseAllWindows();
}

TEST(HostBridgeValues, NumbersBecomeIntegersWhenWhole) {
  JsonPtr list = ParseJson(R"([5, -2147483648, 2147483648, 1.5, "t", true, null, {}])");
  std::vector<ScriptValueKind> kinds;
  for (cJSON* item = list->child; item; item = item->next)
    kinds.push_back(ScriptValueFromJson(item).kind());
  EXPECT_EQ(kinds, (std::vector<ScriptValueKind>{ScriptValueKind::kInt32, ScriptValueKind::kInt32,
                                                 ScriptValueKind::kDouble, ScriptValueKind::kDouble,
                                                 ScriptValueKind::kString, ScriptValueKind::kBool,
                                                 ScriptValueKind::kNull, ScriptValueKind::kOther}));
}

TEST(HostBridgeValues, TokensAreFreshAndScriptsCarryThem) {
  std::string a = NewBridgeToken();
  EXPECT_GE(a.size(), 16u);
  EXPECT_NE(a, NewBridgeToken());
  EXPECT_NE(BuildBridgeScript(a).find("'" + a + "'"), std::string::npos);
  EXPECT_EQ(BuildNoExternalScript().find(a), std::string::npos);
}

}  // namespace
