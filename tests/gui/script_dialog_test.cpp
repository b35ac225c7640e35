// A page's confirm, prompt, alert and print() on the real WebKit view:
// strangers get nothing of ours and are never held; trusted pages ask in the
// client's message box, answered here through the message log.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <httplib.h>

#include <cstdio>
#include <mutex>
#include <thread>

#include "browser/dialog_ie.h"
#include "browser/gtk_frame.h"
#include "browser/webkit_control.h"
#include "config/parameter_store.h"
#include "platform/message_box.h"
#include "tests/gui/gui_fixture.h"
#include "tests/gui/page_server.h"
#include "tests/gui/real_click.h"

namespace {

class ScriptDialogs : public testing_support::GuiFixture, protected testing_support::PageServer {
 protected:
  void SetUp() override {
    GuiFixture::SetUp();
    static bool ready = gtk_init_check(nullptr, nullptr);
    ASSERT_TRUE(ready);
    setenv(platform::kMessageLogEnvironment, Path("messages.txt").c_str(), 1);
    unsetenv(platform::kMessageAnswerEnvironment);
    StartPageServer();
    // Any dialog window that opens is none of ours (our boxes only log
    // here): it is noted and cancelled, so that a print dialog cannot hang
    // the test inside its own loop.
    watch_ = g_timeout_add(50, &ScriptDialogs::CloseForeignDialogs, this);
    SetWindowFrameFactory(&factory_);
    window_ = new CDialogIE();
    ASSERT_TRUE(window_->Create());
  }
  void TearDown() override {
    CDialogIE::CloseAllWindows();
    SetWindowFrameFactory(nullptr);
    if (watch_ != 0) g_source_remove(watch_);
    StopPageServer();
    unsetenv(platform::kMessageLogEnvironment);
    unsetenv(platform::kMessageAnswerEnvironment);
    GuiFixture::TearDown();
  }

  static gboolean CloseForeignDialogs(gpointer self) {
    auto* test = static_cast<ScriptDialogs*>(self);
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item != nullptr; item = item->next) {
      GtkWidget* widget = GTK_WIDGET(item->data);
      if (!GTK_IS_DIALOG(widget) || !gtk_widget_get_visible(widget)) continue;
      const char* title = gtk_window_get_title(GTK_WINDOW(widget));
      test->foreign_dialogs_.push_back(title != nullptr ? title : G_OBJECT_TYPE_NAME(widget));
      gtk_dialog_response(GTK_DIALOG(widget), GTK_RESPONSE_CANCEL);
    }
    g_list_free(windows);
    return G_SOURCE_CONTINUE;
  }

  // The texts of the message boxes shown so far, "caption<TAB>text" each.
  std::vector<std::string> Messages() const {
    std::vector<std::string> lines;
    std::string all = testing_support::ReadBytes(Path("messages.txt"));
    size_t start = 0;
    while (start < all.size()) {
      size_t end = all.find('\n', start);
      if (end == std::string::npos) end = all.size();
      lines.push_back(all.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }
  // The message texts without their captions, which follow the page's title
  // or address.
  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> texts;
    for (const std::string& line : Messages()) {
      size_t tab = line.find('\t');
      EXPECT_EQ(line.rfind("::", 0), 0u) << line;
      texts.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
    }
    return texts;
  }

  guint watch_ = 0;
  std::vector<std::string> foreign_dialogs_;
  GtkWindowFrameFactory factory_;
  CDialogIE* window_ = nullptr;
};

// Everything a page can ask the user, then a line that runs only when none
// of it held the page.
constexpr const char kAskEverything[] =
    "var c = confirm('delete everything?');"
    "var p = prompt('your password', 'guess');"
    "alert('you have won');"
    "print();"
    "var got = String(c) + '|' + String(p) + '|after';";

TEST_F(ScriptDialogs, AStrangerGetsNoBoxNoAnswerAndIsNeverHeld) {
  ServePage("strange.html", "<html><head><title>strange</title></head><body><script>" +
                                std::string(kAskEverything) + Tell("got", "got") +
                                "</script></body></html>");
  // Even an OK given for every box must not reach a stranger.
  setenv(platform::kMessageAnswerEnvironment, "ok", 1);
  window_->NavigateTo(Origin() + "/page/strange.html");
  ASSERT_TRUE(Turn([&] { return !Heard("got").empty(); }));
  EXPECT_EQ(Heard("got"), "false|null|after");
  EXPECT_TRUE(Messages().empty()) << Messages().front();
  EXPECT_TRUE(foreign_dialogs_.empty()) << foreign_dialogs_.front();
}

TEST_F(ScriptDialogs, AStrangerAfterATrustedPageGetsNothingEither) {
  // The trusted page's standing is not left to the stranger it opens.
  ServePage("strange.html", "<html><body><script>" + std::string(kAskEverything) +
                                Tell("got", "got") + "</script></body></html>");
  WritePage("DTM/t/start.html", "<html><body><script>location.href = '" + Origin() +
                                    "/page/strange.html';</script></body></html>");
  setenv(platform::kMessageAnswerEnvironment, "ok", 1);
  window_->NavigateTo(Path("DTM/t/start.html"));
  ASSERT_TRUE(Turn([&] { return !Heard("got").empty(); }));
  EXPECT_EQ(Heard("got"), "false|null|after");
  EXPECT_TRUE(Messages().empty()) << Messages().front();
  EXPECT_TRUE(foreign_dialogs_.empty()) << foreign_dialogs_.front();
}

TEST_F(ScriptDialogs, ATrustedPageAsksInTheMessageBoxAndGetsItsAnswer) {
  struct AnswerCase {
    const char* answer;
    const char* got;  // confirm | prompt
  };
  // Only an OK/Cancel box can answer cancel; prompt has no text entry of
  // ours, so OK gives the page its own default text.
  const AnswerCase cases[] = {{"cancel", "false|null|after"}, {"ok", "true|guess|after"}};
  int round = 0;
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.answer);
    std::remove(Path("messages.txt").c_str());
    setenv(platform::kMessageAnswerEnvironment, c.answer, 1);
    const std::string key = "got" + std::to_string(++round);
    const std::string page = "DTM/t/ask" + std::to_string(round) + ".html";
    WritePage(page,
              "<html><head><title>ours</title><script src=\"report.js\"></script></head>"
              "<body><script>" +
                  std::string(kAskEverything) + "report('" + key +
                  "', got);</script></body></html>");
    window_->NavigateTo(Path(page));
    ASSERT_TRUE(Turn([&] { return Reports().count(key) != 0; }));
    EXPECT_EQ(Reports()[key], c.got);
    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{"delete everything?", "your password", "you have won"}));
  }
  EXPECT_TRUE(foreign_dialogs_.empty()) << foreign_dialogs_.front();
}

// Leaving is never held: WebKit asks only pages the user has touched, so
// the test clicks the page first.
TEST_F(ScriptDialogs, LeavingAPageThatAsksToStayIsNeverHeld) {
  auto holding = [&](const std::string& key) {
    return "<html><body style=\"margin:0\"><div style=\"height:100vh\" onclick=\"" +
           Tell(key, "'1'") +
           "\"></div><script>"
           "window.addEventListener('beforeunload', function (e) {"
           "  e.preventDefault(); e.returnValue = 'stay'; return 'stay'; });"
           "</script></body></html>";
  };
  ServePage("next.html", "<html><body><script>" + Tell("next", "location.search") +
                             "</script></body></html>");
  WritePage("DTM/t/holding.html", holding("clicked-trusted"));
  ServePage("holding.html", holding("clicked-stranger"));
  struct Case {
    const char* key;
    std::string address;
  };
  const Case cases[] = {{"clicked-trusted", Path("DTM/t/holding.html")},
                        {"clicked-stranger", Origin() + "/page/holding.html"}};
  auto& control = static_cast<WebKitBrowserControl&>(window_->frame()->browser());
  // Clicks need the window on the screen.
  gtk_widget_show_all(gtk_widget_get_toplevel(control.widget()));
  ASSERT_TRUE(Turn([&] { return gtk_widget_get_mapped(control.widget()); }));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    window_->NavigateTo(c.address);
    ASSERT_TRUE(Turn([&] { return !control.IsBusy(); }));
    ASSERT_TRUE(Turn([&] {
      return testing_support::ClickWidget(control.widget(), 40, 40) && Heard(c.key) == "1";
    }));
    const std::string next = std::string("?") + c.key;
    window_->NavigateTo(Origin() + "/page/next.html" + next);
    ASSERT_TRUE(Turn([&] { return Heard("next") == next; }));
  }
  EXPECT_TRUE(Messages().empty()) << Messages().front();
  EXPECT_TRUE(foreign_dialogs_.empty()) << foreign_dialogs_.front();
}

}  // namespace
