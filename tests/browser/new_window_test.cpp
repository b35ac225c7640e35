// Windows that pages open: the open-window command in both forms, the
// closing of windows by window ID, pop-ups from the control and their
// first-load actions.
#include <gtest/gtest.h>

#include "browser/dialog_ie.h"
#include "tests/browser/browser_fixture.h"

namespace {

class NewWindowTest : public testing_support::BrowserFixture {
 protected:
  void TearDown() override {
    CDialogIE::CloseAllWindows();
    BrowserFixture::TearDown();
  }
  // A window that is open and shown, with a window ID.
  CDialogIE* Open(const std::string& id) {
    auto* window = new CDialogIE();
    window->window_id_ = id;
    window->url_ = "http://x/" + id;
    EXPECT_TRUE(window->Create());
    window->frame()->Show();
    return window;
  }
  static ScriptedFrame& FrameOf(CDialogIE* window) {
    return *static_cast<ScriptedFrame*>(window->frame());
  }
  // Queues and runs one open-window command on window.
  void Command(CDialogIE* window, const std::vector<std::string>& texts) {
    window->command_queue().PostOpenWindow({"NewWindow", "", "", "", ""}, texts);
    window->RunNextPageCommand();
  }
  CDialogIE* Newest() { return FindWindowByHandle(factory_.last->handle()); }
};

TEST_F(NewWindowTest, AnIdClosesTheWindowsThatCarryIt) {
  struct Case {
    const char* id;
    bool closes_seven;
  };
  for (Case c : {Case{"7", true}, Case{"", false}, Case{"07", false}, Case{"8", false}}) {
    SCOPED_TRACE(c.id);
    CDialogIE* requester = Open("r");
    CDialogIE* seven = Open("7");
    if (std::string(c.id) == "07") seven->window_id_ = "07";
    size_t before = RegisteredWindowCount();
    Command(requester, {"http://x/new", c.id, "0", "1", "", ""});
    EXPECT_EQ(FrameOf(seven).close_requests, c.closes_seven ? 1 : 0);
    EXPECT_EQ(FrameOf(requester).close_requests, 0);
    // The plain window opens in any case, on its address, shown.
    EXPECT_EQ(RegisteredWindowCount(), before + 1);
    CDialogIE* opened = Newest();
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->window_id_, c.id);
    EXPECT_EQ(factory_.last->control.navigations, std::vector<std::string>{"http://x/new"});
    EXPECT_TRUE(factory_.last->visible);
    EXPECT_TRUE(factory_.last->controls_visible);
    CDialogIE::CloseAllWindows();
  }
}

TEST_F(NewWindowTest, ARequestCarryingItsOwnIdAlsoClosesTheRequester) {
  CDialogIE* requester = Open("5");
  Command(requester, {"http://x/new", "5", "0", "1", "", ""});
  EXPECT_EQ(FrameOf(requester).close_requests, 1);
}

TEST_F(NewWindowTest, ShowZeroOpensTheWindowHidden) {
  CDialogIE* requester = Open("r");
  Command(requester, {"http://x/new", "9", "0", "0", "", ""});
  EXPECT_FALSE(factory_.last->visible);
  EXPECT_EQ(Newest()->window_id_, "9");
}

TEST_F(NewWindowTest, TheSharedFormOpensAPopUpThroughTheControl) {
  CDialogIE* requester = Open("r");
  ScriptedFrame& requester_frame = FrameOf(requester);
  Command(requester, {"http://x/shared", "7", "1", "0", "started()", "var injected = 1;"});
  // The control is asked for a new window; it answers with its event.
  EXPECT_EQ(requester_frame.control.navigations.back(), "http://x/shared @_blank");
  size_t before = RegisteredWindowCount();
  FrameOf(requester).control.events_->OnNewWindow("http://x/shared");
  ASSERT_EQ(RegisteredWindowCount(), before + 1);
  CDialogIE* popup = Newest();
  ASSERT_NE(popup, nullptr);
  ScriptedFrame& popup_frame = *factory_.last;
  EXPECT_NE(dynamic_cast<CDialogIE_NewWnd*>(popup), nullptr);
  EXPECT_EQ(popup->window_id_, "7");
  EXPECT_FALSE(factory_.last->visible);          // Show 0
  EXPECT_FALSE(factory_.last->controls_visible);  // only the page
  EXPECT_EQ(factory_.last->control.navigations.back(), "http://x/shared");
  EXPECT_FALSE(popup->UseOwnDownloadManager());
  // One request configures exactly the next pop-up.
  EXPECT_TRUE(requester->pending_window_id_.empty());

  // The first load runs the inserted script and the start call, once.
  popup_frame.control.events_->OnDownloadComplete();
  popup_frame.control.events_->OnDownloadComplete();
  EXPECT_EQ(popup_frame.control.injected, std::vector<std::string>{"tag=head:var injected = 1;"});
  popup->RunNextPageCommand();
  popup->RunNextPageCommand();
  ASSERT_EQ(popup_frame.control.calls.size(), 1u);
  EXPECT_EQ(popup_frame.control.calls[0].name, "started");

  // A page's own window.open afterwards gets a plain, shown pop-up.
  FrameOf(requester).control.events_->OnNewWindow("http://x/other");
  EXPECT_EQ(factory_.last->control.navigations, std::vector<std::string>{"http://x/other"});
  EXPECT_TRUE(factory_.last->visible);
  EXPECT_TRUE(Newest()->window_id_.empty());
}

TEST_F(NewWindowTest, WithoutPopUpsTheLinkOpensInTheSameWindow) {
  CDialogIE* requester = Open("r");
  requester->allow_popups_ = false;
  size_t before = RegisteredWindowCount();
  EXPECT_TRUE(FrameOf(requester).control.events_->OnNewWindow("http://x/linked"));
  EXPECT_EQ(RegisteredWindowCount(), before);
  EXPECT_EQ(FrameOf(requester).control.navigations.back(), "http://x/linked");
}

}  // namespace
