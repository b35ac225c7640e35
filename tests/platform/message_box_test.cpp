#include "platform/message_box.h"

#include <stdlib.h>

#include "platform/codepage.h"
#include "tests/support/sandbox.h"

namespace {

class MessageBoxTest : public testing_support::Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    unsetenv(platform::kMessageLogEnvironment);
    unsetenv(platform::kMessageAnswerEnvironment);
  }
  void TearDown() override {
    unsetenv(platform::kMessageLogEnvironment);
    unsetenv(platform::kMessageAnswerEnvironment);
    platform::SetMessageBoxHandler(nullptr);
    Sandbox::TearDown();
  }
  void LogTo(const std::string& name) {
    setenv(platform::kMessageLogEnvironment, Path(name).c_str(), 1);
  }
};

TEST_F(MessageBoxTest, LoggedBoxesAnswerWithTheChosenButtonWhenTheBoxHasIt) {
  LogTo("messages.txt");
  bool handler_called = false;
  platform::SetMessageBoxHandler([&](uintptr_t, const std::string&, const std::string&, int) {
    handler_called = true;
    return 0;
  });
  struct Case {
    int type;
    const char* chosen;  // nullptr: variable not set
    int answer;
  } cases[] = {
      {0x00, nullptr, 1},  {0x00, "no", 1}, {0x00, "cancel", 1}, {0x40, "ok", 1},
      {0x04, nullptr, 6},  {0x04, "no", 7}, {0x04, "NO", 7},     {0x04, "yes", 6},
      {0x04, "cancel", 6}, {0x04, "", 6},   {0x24, "no", 7},     {0x01, nullptr, 1},
      {0x01, "Cancel", 2}, {0x01, "no", 1}, {0x02, "no", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + "/" + (c.chosen ? c.chosen : "(unset)"));
    if (c.chosen != nullptr) {
      setenv(platform::kMessageAnswerEnvironment, c.chosen, 1);
    } else {
      unsetenv(platform::kMessageAnswerEnvironment);
    }
    EXPECT_EQ(platform::ShowMessageBox(0, "question", "caption", c.type), c.answer);
  }
  EXPECT_FALSE(handler_called);
}

TEST_F(MessageBoxTest, LogLinesAreUtf8OnOneLineEach) {
  LogTo("messages.txt");
  platform::AppendMessageLog("[tip]", "正在卸载");
  EXPECT_EQ(platform::ShowMessageBox(0, "line one\r\nline two", "提示", 0), 1);
  EXPECT_EQ(ReadFile("messages.txt"), "[tip]\t" + platform::GbkToUtf8("正在卸载") + "\n" +
                                          platform::GbkToUtf8("提示") + "\tline one\\nline two\n");
}

TEST_F(MessageBoxTest, WithoutTheLogTheHandlerAnswersAndNothingIsLogged) {
  setenv(platform::kMessageAnswerEnvironment, "no", 1);  // only for logged boxes
  std::string seen;
  platform::SetMessageBoxHandler(
      [&](uintptr_t parent, const std::string& text, const std::string& caption, int type) {
        seen = std::to_string(parent) + "|" + text + "|" + caption + "|" + std::to_string(type);
        return 6;
      });
  platform::AppendMessageLog("[tip]", "text");
  EXPECT_EQ(platform::ShowMessageBox(42, "text", "caption", 4), 6);
  EXPECT_EQ(seen, "42|text|caption|4");

  platform::SetMessageBoxHandler(nullptr);  // the tools' standard error
  EXPECT_EQ(platform::ShowMessageBox(0, "text", "caption", 4), 6);
  EXPECT_EQ(platform::ShowMessageBox(0, "text", "caption", 1), 1);
  EXPECT_FALSE(Exists("messages.txt"));
}

}  // namespace
