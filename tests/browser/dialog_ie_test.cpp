#include "browser/dialog_ie.h"

#include <gtest/gtest.h>

#include "app/config_file.h"
#include "app/main_window.h"
#include "config/parameter_store.h"
#include "platform/codepage.h"
#include "tests/browser/browser_fixture.h"
#include "util/gbk_json.h"
#include "util/registry_helpers.h"

namespace {

class BrowserWindow : public testing_support::BrowserFixture {
 protected:
  // A plain pop-up style window, created; it deletes itself when closed.
  CDialogIE* Open() {
    auto* window = new CDialogIE();
    EXPECT_TRUE(window->Create());
    return window;
  }
  ScriptedFrame& frame() { return *factory_.last; }
  ScriptedControl& control() { return factory_.last->control; }

  ScriptValue Call(CDialogIE& window, const char* name, std::vector<ScriptValue> arguments = {},
                   DispatchResult* outcome = nullptr) {
    int id = 0;
    DispatchResult found = window.GetIDsOfNames(platform::GbkToUtf16(name), id);
    ScriptValue result;
    if (found != DispatchResult::kOk) {
      if (outcome) *outcome = found;
      return result;
    }
    DispatchResult done = window.Invoke(id, kDispatchMethod, arguments, result);
    if (outcome) *outcome = done;
    return result;
  }
  static ScriptValue Text(const std::string& gbk) {
    return ScriptValue::String(platform::GbkToUtf16(gbk));
  }
  static std::string TextOf(const ScriptValue& value) { return platform::Utf16ToGbk(value.text()); }

  void TearDown() override {
    CDialogIE::CloseAllWindows();
    BrowserFixture::TearDown();
  }
};

TEST_F(BrowserWindow, TestItAnswersWithBothArguments) {
  CDialogIE* window = Open();
  DispatchResult outcome;
  EXPECT_EQ(TextOf(Call(*window, "TestIt", {Text("a"), ScriptValue::Int32(5)}, &outcome)),
            "para1:a,para2:5");
  EXPECT_EQ(outcome, DispatchResult::kOk);
  Call(*window, "TestIt", {Text("a")}, &outcome);
  EXPECT_EQ(outcome, DispatchResult::kFalse);
  // Only the exact spelling is TestIt.
  Call(*window, "testit", {Text("a"), ScriptValue::Int32(5)}, &outcome);
  EXPECT_EQ(outcome, DispatchResult::kUnknownName);
}

TEST_F(BrowserWindow, NamesIgnoreCaseUnknownNamesFailAndPropertyReadsAreTrue) {
  CDialogIE* window = Open();
  int id = 0;
  EXPECT_EQ(window->GetIDsOfNames(u"systempara", id), DispatchResult::kOk);
  EXPECT_EQ(id, kMethodSystemPara);
  EXPECT_EQ(window->GetIDsOfNames(u"APPINTERFACE_HREF", id), DispatchResult::kOk);
  EXPECT_EQ(id, kMethodAppInterfaceHref);
  EXPECT_EQ(window->GetIDsOfNames(u"GetJunk", id), DispatchResult::kUnknownName);
  EXPECT_EQ(id, kDispIdUnknown);

  ScriptValue result;
  window->Invoke(kMethodMinWindow, kDispatchPropertyGet, {}, result);
  EXPECT_EQ(result.kind(), ScriptValueKind::kBool);
  EXPECT_EQ(frame().state, "");  // a read carries nothing out
  // The service methods answer through the window; unassigned ids give
  // undefined.
  window->Invoke(kMethodReadFile, kDispatchMethod, {Text("/"), Text("x")}, result);
  EXPECT_EQ(result.kind(), ScriptValueKind::kString);
  window->Invoke(111, kDispatchMethod, {Text("/"), Text("x")}, result);
  EXPECT_EQ(result.kind(), ScriptValueKind::kEmpty);
}

TEST_F(BrowserWindow, QuitAppClosesOnEveryAccessEvenAPropertyRead) {
  CDialogIE* window = Open();
  ScriptValue result;
  window->Invoke(kMethodQuitApp, kDispatchPropertyGet, {}, result);
  EXPECT_EQ(frame().close_requests, 1);
  window->Invoke(kMethodQuitApp, kDispatchMethod, {Text("ignored"), Text("too")}, result);
  EXPECT_EQ(frame().close_requests, 2);
  EXPECT_EQ(result.kind(), ScriptValueKind::kNull);
}

TEST_F(BrowserWindow, EnvironmentValues) {
  WriteInstanceIni("[appserver]\nport=80\n");
  SetParameter("wwwhome", "http://books.example/");
  CDialogIE* window = Open();
  EXPECT_EQ(TextOf(Call(*window, "SystemPara", {Text("server_http_port")})), "80");
  EXPECT_EQ(TextOf(Call(*window, "SystemPara", {Text("SERVER_HTTP_IP")})), "127.0.0.1");
  EXPECT_EQ(TextOf(Call(*window, "GetGlobalPara", {Text("dir_module")})), dir());
  EXPECT_EQ(TextOf(Call(*window, "SystemPara", {Text("wwwhome")})), "http://books.example/");
  EXPECT_EQ(TextOf(Call(*window, "SystemPara", {Text("DIR_TMP")})), GetTempDirectoryPath());
  EXPECT_TRUE(Exists("temp") || FileExists(GetTempDirectoryPath()));

  std::string all = TextOf(Call(*window, "SystemPara"));
  EXPECT_EQ(
      all.find("{\n\t\"APPLICATION_DB_USEFILE\":\t\"0\",\n\t\"APPLICATION_UI_USEFILE\":\t\"1\""),
      0u)
      << all;
  JsonPtr tree = ParseGbkJson(all);
  ASSERT_TRUE(tree);
  EXPECT_STREQ(JsonStringMember(tree.get(), "WWWHOME"), "http://books.example/");
}

TEST_F(BrowserWindow, GlobalParametersGoToTheStoreOrToConfigEf) {
  CDialogIE* window = Open();
  Call(*window, "SetGlobalPara", {Text("colour"), Text("蓝")});
  EXPECT_EQ(GetParameter("colour"), "蓝");
  EXPECT_FALSE(FileExists(GetConfigFilePath()));
  Call(*window, "SetGlobalPara", {Text("_config_ef_theme"), Text("dark")});
  EXPECT_TRUE(FileExists(GetConfigFilePath()));
  Call(*window, "SetGlobalPara", {Text("only-a-name")});
  EXPECT_EQ(GetParameter("only-a-name"), "");
}

TEST_F(BrowserWindow, WindowSizeAndCentring) {
  CDialogIE* window = Open();
  Call(*window, "SetWindowSize", {ScriptValue::Int32(800)});
  EXPECT_EQ(frame().rect.right - frame().rect.left + 1, 640);
  Call(*window, "SetWindowSize", {Text("800"), Text("600")});
  EXPECT_EQ(frame().rect.left, 100);
  EXPECT_EQ(frame().rect.right - frame().rect.left + 1, 800);
  EXPECT_EQ(frame().rect.bottom - frame().rect.top + 1, 600);
  Call(*window, "CenterWindow");
  Call(*window, "CenterWindow");
  // Centred on the 1280 x 1024 screen, and no bigger for being centred twice.
  EXPECT_EQ(frame().rect.left, 240);
  EXPECT_EQ(frame().rect.top, 212);
  EXPECT_EQ(frame().rect.right - frame().rect.left + 1, 800);
  Call(*window, "MaxWindow");
  EXPECT_EQ(frame().state, "maximized");
}

TEST_F(BrowserWindow, CommandTimerRunsOneCommandPerTickInOrder) {
  CDialogIE* window = Open();
  ASSERT_EQ(frame().timers.size(), 1u);
  EXPECT_EQ(frame().timers[0], std::make_pair(kCommandTimerId, kCommandTimerPeriodMs));

  Call(*window, "AppInterface_Href", {Text("http://x/next")});
  EXPECT_TRUE(control().navigations.empty());  // not before the next tick
  window->command_queue().PostScriptCall("show( 'a b' )");
  window->command_queue().PostScriptCallArgs("update", {"0", "ok", ""});

  window->RunNextPageCommand();
  EXPECT_EQ(control().navigations, std::vector<std::string>{"http://x/next"});
  EXPECT_TRUE(control().calls.empty());
  window->RunNextPageCommand();
  ASSERT_EQ(control().calls.size(), 1u);
  EXPECT_EQ(control().calls[0].name, "show");
  EXPECT_EQ(control().calls[0].arguments, std::vector<std::string>{"a b"});
  window->RunNextPageCommand();
  ASSERT_EQ(control().calls.size(), 2u);
  EXPECT_EQ(control().calls[1].arguments, (std::vector<std::string>{"0", "ok", ""}));
  window->RunNextPageCommand();  // empty queue: nothing
  EXPECT_EQ(control().calls.size(), 2u);
}

TEST_F(BrowserWindow, BounceCallsThePageBackOnALaterTick) {
  CDialog_TomeRack window;
  ASSERT_TRUE(window.Create());
  std::string reply = window.ExecuteCommand(
      R"j({"Function":"Bounce","Callback":"pong('1')","SessionID":"","ID":"","Para":{}})j");
  EXPECT_NE(reply.find("\"Return\":\t\"0\""), std::string::npos);
  EXPECT_TRUE(control().calls.empty());
  window.RunNextPageCommand();
  ASSERT_EQ(control().calls.size(), 1u);
  EXPECT_EQ(control().calls[0].name, "pong");
  EXPECT_EQ(control().calls[0].arguments, std::vector<std::string>{"1"});
}

TEST_F(BrowserWindow, OpensItsPageOnlyWithAWindowId) {
  {
    CDialogIE* window = new CDialogIE();
    window->url_ = "http://x/";
    ASSERT_TRUE(window->Create());
    EXPECT_TRUE(control().navigations.empty());
  }
  CDialogIE* second = new CDialogIE();
  second->url_ = "http://x/";
  second->window_id_ = "7";
  ASSERT_TRUE(second->Create());
  EXPECT_EQ(control().navigations, std::vector<std::string>{"http://x/"});
}

TEST_F(BrowserWindow, CloseRequestHidesAModalWindowAndFreesAPopUp) {
  CDialogIE modal;
  modal.modal_ = true;
  modal.DoModal();
  ScriptedFrame& modal_frame = frame();
  EXPECT_TRUE(modal_frame.modal_running);
  static_cast<WindowFrameEvents&>(modal_frame.events).OnCloseRequest();
  EXPECT_FALSE(modal_frame.visible);
  EXPECT_TRUE(modal_frame.modal_running);
  EXPECT_EQ(FindWindowByHandle(modal.handle()), &modal);

  CDialogIE* popup = Open();
  uintptr_t handle = popup->handle();
  EXPECT_EQ(FindExternalByWindow(handle), popup);
  frame().events.OnCloseRequest();  // deletes the window
  EXPECT_EQ(FindExternalByWindow(handle), nullptr);
  EXPECT_EQ(FindHostByWindow(handle), nullptr);

  modal.allow_close_ = true;
  modal_frame.events.OnCloseRequest();
  EXPECT_FALSE(modal_frame.modal_running);
  EXPECT_EQ(FindWindowByHandle(modal.handle()), nullptr);
}

TEST_F(BrowserWindow, ButtonsAndTheAddressLine) {
  Open();
  frame().address = "http://typed/";
  frame().events.OnAddressEnter();
  EXPECT_EQ(control().navigations, std::vector<std::string>{"http://typed/"});
  for (int id :
       {kButtonBack, kButtonForward, kButtonStop, kButtonRefresh, kButtonHome, kButtonSearch}) {
    frame().events.OnButton(id);
  }
  EXPECT_EQ(control().actions,
            (std::vector<std::string>{"back", "forward", "stop", "refresh", "home", "search"}));
}

class NoHomeWindow : public CDialogIE {
 public:
  int OnHomeButton() override { return 1; }
};

TEST_F(BrowserWindow, HomeButtonDefersToTheWindow) {
  NoHomeWindow window;
  ASSERT_TRUE(window.Create());
  frame().events.OnButton(kButtonHome);
  EXPECT_TRUE(control().actions.empty());
}

TEST_F(BrowserWindow, AlertsGoToTheMessageBoxWithTheirCaption) {
  Open();
  WebBrowserEvents& events = *control().events_;
  events.OnScriptAlert("hello", "页面");
  events.OnScriptAlert("", "页面");  // an empty alert shows nothing
  EXPECT_EQ(frame().messages, std::vector<std::string>{"::页面|hello"});
}

class QuietWindow : public CDialogIE {
 public:
  int OnShowMessage(const std::string& text, const std::string&) override {
    seen.push_back(text);
    return 1;
  }
  bool FilterMessage(const std::string&, const std::string&) override { return false; }
  std::vector<std::string> seen;
};

TEST_F(BrowserWindow, WindowsMayTakeOverOrFilterPageMessages) {
  QuietWindow window;
  ASSERT_TRUE(window.Create());
  control().events_->OnScriptAlert("hello", "c");
  EXPECT_EQ(window.seen, std::vector<std::string>{"hello"});
  EXPECT_TRUE(frame().messages.empty());
}

TEST_F(BrowserWindow, ConfirmsAreAskedInTheMessageBoxAndAnswerItsButton) {
  struct ConfirmCase {
    std::vector<int> answers;
    bool confirmed;
  };
  const ConfirmCase cases[] = {{{kMessageBoxAnswerCancel}, false},
                               {{kMessageBoxAnswerOk}, true},
                               {{kMessageBoxAnswerNo}, false}};
  Open();
  for (const ConfirmCase& c : cases) {
    frame().messages.clear();
    frame().answers = c.answers;
    EXPECT_EQ(control().events_->OnScriptConfirm("sure?", "页面"), c.confirmed);
    EXPECT_EQ(frame().messages, std::vector<std::string>{"::页面|sure?"});
  }
}

TEST_F(BrowserWindow, AConfirmTheWindowTakesOverOrFiltersIsCancelled) {
  QuietWindow window;
  ASSERT_TRUE(window.Create());
  EXPECT_FALSE(control().events_->OnScriptConfirm("delete all?", "c"));
  EXPECT_EQ(window.seen, std::vector<std::string>{"delete all?"});
  EXPECT_TRUE(frame().messages.empty());
}

TEST_F(BrowserWindow, SwallowsRefreshAndOpenPrintNewKeys) {
  struct KeyCase {
    unsigned key;
    bool control;
    bool swallowed;
  };
  const KeyCase cases[] = {{0x74, false, true}, {0x74, true, true}, {'P', true, true},
                           {'O', true, true},   {'N', true, true},  {'P', false, false},
                           {'C', true, false},  {'A', false, false}};
  for (const auto& c : cases) EXPECT_EQ(IsSwallowedKey(c.key, c.control), c.swallowed) << c.key;
}

TEST_F(BrowserWindow, WritesTheBrowserEmulationValue) {
  {
    CDialogIE window;
    uint32_t value = 0;
    ASSERT_EQ(RegReadNumber(RegistryHive::kLocalMachine, kBrowserEmulationKey, GetProgramFileName(),
                            value),
              0);
    EXPECT_EQ(value, 9999u);
  }
  WriteInstanceIni("[ie]\nversion=11001\n");
  CDialogIE window;
  uint32_t value = 0;
  ASSERT_EQ(
      RegReadNumber(RegistryHive::kLocalMachine, kBrowserEmulationKey, GetProgramFileName(), value),
      0);
  EXPECT_EQ(value, 11001u);
}

TEST_F(BrowserWindow, FirstLoadInjectsAndStartsOnce) {
  CDialogIE* window = Open();
  window->js_inject_ = "var injected = 1;";
  window->js_start_ = "begin('x')";
  control().events_->OnDownloadComplete();
  control().events_->OnDownloadComplete();
  EXPECT_EQ(control().injected, std::vector<std::string>{"tag=head:var injected = 1;"});
  EXPECT_EQ(window->command_queue().size(), 1u);
}

}  // namespace

namespace {

TEST_F(BrowserWindow, MainIcoInTheSystemDirectoryBecomesTheIcon) {
  {
    CDialogIE* plain = Open();
    EXPECT_TRUE(plain->icon_path_.empty());
    EXPECT_TRUE(frame().icon.empty());
  }
  WriteFile("system/main.ico", "not really an icon");
  {
    CDialogIE* window = Open();
    EXPECT_EQ(frame().icon, GetSystemDirectoryPath() + "/main.ico");
    EXPECT_EQ(window->icon_path_, frame().icon);
  }
  // A file the window cannot use leaves the program's own icon.
  factory_.last = nullptr;
  auto* broken = new CDialogIE();
  struct Refuse : ScriptedFrameFactory {
    std::unique_ptr<WindowFrame> CreateFrame(WindowFrameEvents& events,
                                             WebBrowserEvents& browser) override {
      auto frame = ScriptedFrameFactory::CreateFrame(events, browser);
      last->icon_loads = false;
      return frame;
    }
  } refuse;
  SetWindowFrameFactory(&refuse);
  ASSERT_TRUE(broken->Create());
  EXPECT_TRUE(broken->icon_path_.empty());
  CDialogIE::CloseAllWindows();
  SetWindowFrameFactory(&factory_);
}

}  // namespace
