#include "browser/page_command.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "browser/call_text.h"

namespace {

TEST(PageCommandQueue, CommandsFromSeveralThreadsComeOutInTheOrderAppended) {
  PageCommandQueue queue;
  std::mutex order_lock;
  std::vector<std::string> appended;
  std::vector<std::thread> threads;
  for (int t = 0; t < 5; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < 2; ++k) {
        // The record of the append order is taken together with the append.
        std::lock_guard<std::mutex> hold(order_lock);
        std::string text = "f" + std::to_string(t) + "_" + std::to_string(k);
        queue.PostScriptCall(text);
        appended.push_back(text);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_EQ(queue.size(), 10u);
  for (const std::string& expected : appended) {
    auto command = queue.Take();
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command->kind, kPageCallByText);
    EXPECT_EQ(command->texts, std::vector<std::string>{expected});
  }
  EXPECT_EQ(queue.Take(), nullptr);
  EXPECT_EQ(queue.size(), 0u);
}

TEST(PageCommandQueue, KeepsEveryTextOfEachKind) {
  PageCommandQueue queue;
  queue.PostNavigate("http://a/b");
  queue.PostScriptCallArgs("update", {"0", "ok", ""});
  queue.PostOpenWindow({"NewWindow", "cb", "s", "1", ""}, {"u", "7", "1", "0", "start()", "x=1"});

  auto navigate = queue.Take();
  EXPECT_EQ(navigate->kind, kPageNavigate);
  EXPECT_EQ(navigate->texts, std::vector<std::string>{"http://a/b"});
  auto call = queue.Take();
  EXPECT_EQ(call->kind, kPageCallWithArguments);
  EXPECT_EQ(call->texts, (std::vector<std::string>{"update", "0", "ok", ""}));
  auto open = queue.Take();
  EXPECT_EQ(open->kind, kPageOpenWindow);
  EXPECT_EQ(open->header.size(), 5u);
  EXPECT_EQ(open->texts.size(), 6u);
  EXPECT_EQ(open->texts[4], "start()");
}

struct CallTextCase {
  const char* text;
  const char* name;
  std::vector<std::string> arguments;
};

TEST(ParseCallText, SplitsNameAndArgument) {
  const CallTextCase cases[] = {
      {"refresh", "refresh", {}},
      {"refresh()", "refresh", {""}},
      {"show('abc')", "show", {"abc"}},
      {"show( 'a b' )", "show", {"a b"}},
      {"show(\"abc\")", "show", {"\"abc\""}},
      {"(abc)", "(abc)", {}},
      {"", "", {}},
      {"say('one\\ntwo')", "say", {"one\ntwo"}},
      {"say('a\\\\b')", "say", {"a\\b"}},
      {"f(''')')", "f", {""}},
      {"show('进度')", "show", {"进度"}},
  };
  for (const auto& c : cases) {
    PageCall call = ParseCallText(c.text);
    EXPECT_EQ(call.name, c.name) << c.text;
    EXPECT_EQ(call.arguments, c.arguments) << c.text;
  }
}

}  // namespace
