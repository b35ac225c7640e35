// The browser window in this process on the real WebKit view: page calls
// queued from other threads, call texts, and script insertion.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <httplib.h>

#include <thread>

#include "browser/dialog_ie.h"
#include "browser/gtk_frame.h"
#include "browser/trusted_pages.h"
#include "config/parameter_store.h"
#include "tests/gui/gui_fixture.h"

namespace {

class WebKitWindow : public testing_support::GuiFixture {
 protected:
  void SetUp() override {
    GuiFixture::SetUp();
    static bool ready = gtk_init_check(nullptr, nullptr);
    ASSERT_TRUE(ready);
    SetWindowFrameFactory(&factory_);
    window_ = new CDialogIE();
    ASSERT_TRUE(window_->Create());
  }
  void TearDown() override {
    CDialogIE::CloseAllWindows();
    SetWindowFrameFactory(nullptr);
    GuiFixture::TearDown();
  }
  // Runs the main loop until the page reported key (or a generous limit).
  bool WaitForReport(const std::string& key) {
    return testing_support::WaitFor(
        [&] {
          while (g_main_context_iteration(nullptr, FALSE)) {
          }
          return Reports().count(key) != 0;
        },
        std::chrono::seconds(60));
  }
  void Load(const std::string& relative) {
    window_->NavigateTo(Path(relative));
    ASSERT_TRUE(WaitForReport("loaded"));
  }

  GtkWindowFrameFactory factory_;
  CDialogIE* window_ = nullptr;
};

constexpr const char kPage[] = R"HTML(<!DOCTYPE html>
<HTML><HEAD><TITLE>calls</TITLE><script src="report.js"></script></HEAD><BODY><script>
function update() { report('update', Array.prototype.join.call(arguments, '|') + '#' + arguments.length); }
function say(text) { report('say', text.replace('\n', '<LF>') + '#' + arguments.length); }
report('loaded', '1');
</script></BODY></HTML>)HTML";

TEST_F(WebKitWindow, QueuedCallsFromAnotherThreadReachThePageWithTheirTexts) {
  WritePage("DTM/t/calls.html", kPage);
  Load("DTM/t/calls.html");
  std::thread worker([this] {
    window_->command_queue().PostScriptCallArgs("update", {"0", "ok", ""});
    window_->command_queue().PostScriptCall("say('one\\ntwo')");
    window_->command_queue().PostScriptCall("missing('x')");  // fails quietly
    window_->command_queue().PostScriptCall("update");
  });
  worker.join();
  ASSERT_TRUE(WaitForReport("say"));
  EXPECT_EQ(Reports()["update"], "0|ok|#3");
  EXPECT_EQ(Reports()["say"], "one<LF>two#1");
  ASSERT_TRUE(testing_support::WaitFor(
      [&] {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        return Reports()["update"] == "#0";
      },
      std::chrono::seconds(60)));
}

TEST_F(WebKitWindow, InjectedScriptLandsInAnUpperCaseHead) {
  WritePage("DTM/t/calls.html", kPage);
  Load("DTM/t/calls.html");
  int code = -1;
  window_->frame()->browser().InjectScript(
      "tag", "head",
      "report('injected', document.head.lastChild.getAttribute('type') + '/' + "
      "document.head.lastChild.tagName);",
      [&](int result) { code = result; });
  ASSERT_TRUE(WaitForReport("injected"));
  EXPECT_EQ(Reports()["injected"], "text/javascript/SCRIPT");
  ASSERT_TRUE(testing_support::WaitFor([&] {
    g_main_context_iteration(nullptr, FALSE);
    return code != -1;
  }));
  EXPECT_EQ(code, kInjectInserted);

  code = -1;
  window_->frame()->browser().InjectScript("tag", "nosuchtag", "report('wrong', '1');",
                                           [&](int result) { code = result; });
  ASSERT_TRUE(testing_support::WaitFor([&] {
    g_main_context_iteration(nullptr, FALSE);
    return code != -1;
  }));
  EXPECT_EQ(code, kInjectNotInserted);
}

TEST_F(WebKitWindow, ScriptGoesIntoAFrameWhenTheTopHasNoMatch) {
  // Local files are each an origin of their own, which the host's script
  // cannot enter; the frames of one web origin it can.
  httplib::Server server;
  server.Get("/inner.html", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("<html><body><script>" + std::string(kReportScript) +
                             "report('loaded','1')</script><section></section></body></html>",
                         "text/html");
  });
  server.Get("/outer.html", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("<html><body><iframe src=\"inner.html\"></iframe></body></html>",
                         "text/html");
  });
  int port = server.bind_to_any_port("127.0.0.1");
  ASSERT_GT(port, 0);
  std::thread serving([&] { server.listen_after_bind(); });
  const std::string outer = "http://127.0.0.1:" + std::to_string(port) + "/outer.html";
  SetParameter("startpage", outer);
  window_->NavigateTo(outer);
  ASSERT_TRUE(WaitForReport("loaded"));
  int code = -1;
  window_->frame()->browser().InjectScript(
      "tag", "section", "report('in-frame', location.pathname.split('/').pop());",
      [&](int result) { code = result; });
  EXPECT_TRUE(WaitForReport("in-frame"));
  EXPECT_EQ(Reports()["in-frame"], "inner.html");
  server.stop();
  serving.join();
}

}  // namespace

namespace {

TEST_F(WebKitWindow, NavigatesANamedFrame) {
  WritePage(
      "DTM/t/frames.html",
      "<html><body><iframe name=\"side\" src=\"about:blank\"></iframe>"
      "<script src=\"report.js\"></script><script>report('loaded','1')</script></body></html>");
  WritePage("DTM/t/side.html",
            "<html><body><script src=\"report.js\"></script><script>"
            "report('side', window.name + '/' + (window.top !== window))</script></body></html>");
  Load("DTM/t/frames.html");
  window_->frame()->browser().Navigate(Path("DTM/t/side.html"), "side");
  ASSERT_TRUE(WaitForReport("side"));
  EXPECT_EQ(Reports()["side"], "side/true");
}

}  // namespace
