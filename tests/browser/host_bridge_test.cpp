#include "browser/host_bridge.h"

#include <gtest/gtest.h>

#include <functional>

#include "browser/dialog_ie.h"
#include "tests/browser/browser_fixture.h"
#include "util/json_tree.h"

namespace {

class HostBridge : public testing_support::BrowserFixture {};

class HostBridgeCalls : public HostBridge {
 protected:
  void SetUp() override {
    HostBridge::SetUp();
    window_ = new CDialogIE();
    ASSERT_TRUE(window_->Create());
    caller_.origin = "http://trusted:80";
    caller_.admit = [this](const std::string& origin, const std::string& url) {
      return admitting_ && origin == "http://trusted:80" && url.rfind("http://trusted/", 0) == 0;
    };
  }
  void TearDown() override {
    CDialogIE::CloseAllWindows();
    HostBridge::TearDown();
  }
  std::string Ask(const std::string& body) {
    return AnswerBridgeRequest(*window_, "sec", keys_, caller_, body, status_, bare_text_);
  }
  // A key for a document at the address, or "" when refused.
  std::string Hello(const std::string& url) {
    JsonPtr answer = ParseJson(Ask(R"({"t":"sec","op":"hello","u":")" + url + "\"}"));
    const char* key = answer ? JsonStringMember(answer.get(), "k") : nullptr;
    return key != nullptr ? key : "";
  }
  std::string Call(const std::string& key, const std::string& rest) {
    return Ask(R"({"t":")" + key + "\"," + rest + "}");
  }

  CDialogIE* window_ = nullptr;
  BridgeKeys keys_;
  BridgeCaller caller_;
  bool admitting_ = true;
  int status_ = 0;
  bool bare_text_ = false;
};

TEST_F(HostBridgeCalls, AnswersGetCallAndHasForAKeyedDocument) {
  std::string key = Hello("http://trusted/page.html");
  ASSERT_FALSE(key.empty());
  EXPECT_EQ(status_, 200);
  EXPECT_EQ(Call(key, R"("op":"get","name":"testit")"),
            R"({"e":"window.external has no member testit"})");
  EXPECT_EQ(status_, 200);
  EXPECT_EQ(Call(key, R"("op":"get","name":"TestIt")"), R"({"id":1,"v":true})");
  EXPECT_FALSE(bare_text_);
  // A text comes back bare (UTF-8), marked as such.
  EXPECT_EQ(Call(key, reinterpret_cast<const char*>(u8R"("op":"call","id":1,"args":["数",5])")),
            reinterpret_cast<const char*>(u8"para1:数,para2:5"));
  EXPECT_TRUE(bare_text_);
  EXPECT_EQ(Call(key, R"("op":"call","id":102,"args":["http://x/"])"), R"({"v":null})");
  // "in" looks the name up and carries nothing out.
  EXPECT_EQ(Call(key, R"("op":"has","name":"quitapp")"), R"({"id":121})");
  EXPECT_EQ(Call(key, R"("op":"has","name":"junk")"), R"({"id":-1})");
  // An unassigned id answers undefined: no "v".
  EXPECT_EQ(Call(key, R"("op":"call","id":104,"args":[])"), "{}");
  EXPECT_EQ(factory_.last->close_requests, 0);
}

TEST_F(HostBridgeCalls, RefusesWhatNoAdmittedDocumentWasGiven) {
  const std::string key = Hello("http://trusted/page.html");
  ASSERT_FALSE(key.empty());
  struct Case {
    const char* what;
    std::function<std::string()> ask;
    int status;
  } const cases[] = {
      {"a guessed key", [&] { return Call("guess", R"("op":"get","name":"QuitApp")"); }, 403},
      {"no key", [&] { return Ask(R"({"op":"get","name":"QuitApp"})"); }, 403},
      {"the secret instead of a key",
       [&] { return Call("sec", R"("op":"get","name":"QuitApp")"); }, 403},
      {"a hello with a wrong secret",
       [&] { return Ask(R"({"t":"x","op":"hello","u":"http://trusted/page.html"})"); }, 403},
      {"a hello for a page not admitted", [&] { return Hello("http://other/") + "-"; }, 403},
      {"not json", [&] { return Ask("not json"); }, 400},
      {"an unknown operation", [&] { return Call(key, R"("op":"drop")"); }, 400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string answer = c.ask();
    EXPECT_EQ(status_, c.status) << answer;
  }

  // The key works only from the origin it was handed to...
  caller_.origin = "http://other:80";
  Call(key, R"("op":"get","name":"QuitApp")");
  EXPECT_EQ(status_, 403);
  caller_.origin = "http://trusted:80";
  // ...only while its document is still admitted...
  admitting_ = false;
  Call(key, R"("op":"get","name":"QuitApp")");
  EXPECT_EQ(status_, 403);
  admitting_ = true;
  Call(key, R"("op":"get","name":"TestIt")");
  EXPECT_EQ(status_, 200);
  // ...and not after a new top document.
  keys_.Renew();
  Call(key, R"("op":"get","name":"TestIt")");
  EXPECT_EQ(status_, 403);
  EXPECT_EQ(factory_.last->close_requests, 0);
}

TEST(HostBridgeKeys, StayBoundedAndKeepTheFirst) {
  BridgeKeys keys;
  std::string first = keys.Issue({"o", "top"});
  std::string second = keys.Issue({"o", "frame"});
  for (int i = 0; i < 1000; ++i) keys.Issue({"o", "frame"});
  EXPECT_LE(keys.size(), 256u);
  ASSERT_NE(keys.Find(first), nullptr);
  EXPECT_EQ(keys.Find(first)->url, "top");
  EXPECT_EQ(keys.Find(second), nullptr);
  EXPECT_EQ(keys.Find(""), nullptr);
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

TEST(HostBridgeValues, TheSecretStaysInTheHostsWorld) {
  std::string a = NewBridgeToken();
  EXPECT_GE(a.size(), 16u);
  EXPECT_NE(a, NewBridgeToken());
  EXPECT_NE(BuildBridgeWorldScript(a).find("'" + a + "'"), std::string::npos);
  EXPECT_EQ(BuildExternalForwarderScript().find(a), std::string::npos);
  EXPECT_EQ(BuildNoExternalScript().find(a), std::string::npos);
}

}  // namespace
