// The main window's logic with scripted native parts: the page commands and
// their replies, book selection by status, opening books in readers, the
// start page and the exit sequence.
#include "app/main_window.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <deque>
#include <mutex>

#include "app/config_key.h"
#include "app/notification_windows.h"
#include "app/tip_text.h"
#include "books/book_paths.h"
#include "books/book_record.h"
#include "config/parameter_store.h"
#include "config/program_paths.h"
#include "platform/codepage.h"
#include "platform/ini_file.h"
#include "platform/ui_loop.h"
#include "tests/browser/scripted_window.h"
#include "tests/support/program_dir.h"
#include "util/file_io.h"
#include "util/path_names.h"

namespace {

// Posted work waits here until the test lets the "UI thread" run it.
class QueuedUiLoop {
 public:
  void Install() {
    platform::SetUiLoop({[this](platform::UiTask task) {
                           std::lock_guard<std::mutex> hold(lock_);
                           tasks_.push_back(std::move(task));
                         },
                         {}});
  }
  void Drain() {
    while (true) {
      platform::UiTask task;
      {
        std::lock_guard<std::mutex> hold(lock_);
        if (tasks_.empty()) return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
  }

 private:
  std::mutex lock_;
  std::deque<platform::UiTask> tasks_;
};

// Notification windows that write down what they were asked to do.
class RecordingNotifications : public NotificationFactory {
 public:
  class Windows : public NotificationWindows {
   public:
    explicit Windows(std::vector<std::string>& log) : log_(log) {}
    void ShowTip(const std::string& text) override { log_.push_back("tip:" + text); }
    void HideTip() override { log_.push_back("tip hidden"); }
    void ShowMessageBox(const std::string& text, uint32_t close_ms) override {
      log_.push_back("box:" + text + "@" + std::to_string(close_ms));
    }
    void HideMessageBox() override { log_.push_back("box hidden"); }

   private:
    std::vector<std::string>& log_;
  };
  class Top : public TopTipWindow {
   public:
    explicit Top(std::vector<std::string>& log) : log_(log) {}
    void Show(const std::string& text) override {
      shown_ = true;
      log_.push_back("top:" + text);
    }
    void Update(const std::string& text) override {
      shown_ = true;
      log_.push_back("top+" + text);
    }
    void Hide() override {
      if (shown_) log_.push_back("top hidden");
      shown_ = false;
    }
    bool IsShown() const override { return shown_; }

   private:
    std::vector<std::string>& log_;
    bool shown_ = false;
  };

  std::unique_ptr<NotificationWindows> CreateNotificationWindows(uintptr_t) override {
    return std::make_unique<Windows>(log);
  }
  TopTipWindow& TopTip() override { return top_; }

  std::vector<std::string> log;

 private:
  Top top_{log};
};

class MainWindowTest : public testing_support::ProgramDirSandbox {
 protected:
  void SetUp() override {
    ProgramDirSandbox::SetUp();
    BuildConfigKey();
    SetWindowFrameFactory(&frames_);
    SetNotificationFactory(&notifications_);
    ui_.Install();
  }
  void TearDown() override {
    window_.reset();
    ui_.Drain();
    platform::SetUiLoop({});
    SetNotificationFactory(nullptr);
    SetWindowFrameFactory(nullptr);
    SetApplicationExiting(false);
    ProgramDirSandbox::TearDown();
  }

  CDialog_TomeRack& Open(const std::string& ini = "") {
    if (!ini.empty()) {
      EXPECT_TRUE(CreateParentDirectories(GetInstanceIniPath()));
      EXPECT_TRUE(WriteWholeFile(ini.data(), ini.size(), GetInstanceIniPath()));
    }
    window_ = std::make_unique<CDialog_TomeRack>();
    window_->modal_ = true;
    EXPECT_TRUE(window_->Create());
    // Background passes would race the assertions on sync requests.
    window_->collection().StopSyncThread();
    window_->collection().sync_requested = false;
    return *window_;
  }
  ScriptedFrame& frame() { return *frames_.last; }

  std::string Command(const std::string& function, const std::string& para) {
    return window_->ExecuteCommand("{\"Function\":\"" + function +
                                   "\",\"Callback\":\"cb\",\"SessionID\":\"s\",\"ID\":\"i\","
                                   "\"Para\":" + para + "}");
  }

  // A catalogue of (bsid, gid) rows.
  void Catalogue(const std::vector<std::pair<std::string, std::string>>& books) {
    std::vector<std::string> rows;
    for (const auto& [bsid, gid] : books) {
      std::vector<std::string> row(kCatalogueColumns);
      row[kColumnBsid] = bsid;
      row[kColumnGid] = gid;
      rows.insert(rows.end(), row.begin(), row.end());
    }
    window_->collection().catalogue().Store("raw", rows);
  }
  RecordPtr Record(const std::string& gid, uint32_t status, const std::string& reader = "r.sh") {
    auto record = std::make_shared<BookRecord>(&window_->collection());
    record->Update([&](BookFields& f) {
      f.gid = f.bookID = gid;
      f.bookStatus = status;
      f.bookURL = "books/" + gid + ".zip";
      f.bookReader = reader;
      f.bookPackageID = "p1";
      f.last_bookPackageID = "p1";
    });
    window_->collection().PutRecord(gid, record);
    return record;
  }

  ScriptedFrameFactory frames_;
  RecordingNotifications notifications_;
  QueuedUiLoop ui_;
  std::unique_ptr<CDialog_TomeRack> window_;
};

std::string Member(const std::string& reply, const std::string& name) {
  std::string key = "\"" + name + "\":\t\"";
  size_t at = reply.find(key);
  if (at == std::string::npos) return "<absent>";
  at += key.size();
  return reply.substr(at, reply.find('"', at) - at);
}

TEST_F(MainWindowTest, CommandsAnswerAsThePageExpects) {
  Open();
  struct Case {
    const char* function;
    const char* para;
    const char* code;
    const char* message;
  };
  const Case cases[] = {
      {"Report", "{}", "1002000", "json格式有错，缺少Type"},
      {"Request", "{\"Data\":1}", "1002000", "json格式有错，缺少Type"},
      {"Report", "{\"Type\":\"TomerackSelection\"}", "1002000", "json格式有错，缺少Data"},
      {"Request", "{\"Type\":\"PasswordMD\"}", "1002000", "json格式有错，缺少Data"},
      {"Report", "{\"Type\":\"MenuExchange\"}", "0", ""},
      {"Report", "{\"Type\":\"NoSuchReport\"}", "0", ""},
      {"Request", "{\"Type\":\"NoSuchRequest\"}", "0", ""},
      {"Request", "{\"Type\":\"bookOperate\"}", "0", ""},
      // An operation without its book is refused before anything is stopped.
      {"Request", "{\"Type\":\"bookOperate\",\"Data\":{\"Type\":\"download\"}}", "1002000",
       "json格式有错，缺少bsid"},
      {"Request", "{\"Type\":\"bookOperate\",\"Data\":{\"bsid\":\"b1\"}}", "1002000",
       "json格式有错，缺少Type"},
      {"Elsewhere", "{}", "2002000", "DesktopApp undefined Function:Elsewhere"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.function) + " " + c.para);
    std::string reply = Command(c.function, c.para);
    EXPECT_EQ(Member(reply, "Return"), c.code);
    EXPECT_EQ(Member(reply, "Message"), c.message);
    EXPECT_EQ(Member(reply, "Callback"), "cb");
  }
}

TEST_F(MainWindowTest, LoginInAnyCaseSignsInAndLogoutSignsOut) {
  Open();
  SetParameter("uid", "u1");
  SetParameter("sessionid", "s1");
  EXPECT_EQ(Member(Command("Report", "{\"Type\":\"login\"}"), "Return"), "0");
  EXPECT_TRUE(window_->logged_in());
  EXPECT_TRUE(window_->collection().online.load());
  EXPECT_EQ(window_->uid(), "u1");
  EXPECT_EQ(window_->collection().User().sessionid, "s1");
  // The top-most tip covers the sign-in and goes with it.
  EXPECT_EQ(notifications_.log,
            (std::vector<std::string>{"top:正在登录，请稍候...", "top hidden"}));
  std::string config;
  ASSERT_TRUE(ReadWholeFile(JoinPath(GetSystemDirectoryPath(), "Config.EF"), config));

  Command("Report", "{\"Type\":\"MenuLogout\"}");
  EXPECT_FALSE(window_->logged_in());
  EXPECT_FALSE(window_->collection().online.load());
}

TEST_F(MainWindowTest, LoginStateIgnoresAOneCharacterUid) {
  Open();
  SetParameter("uid", "7");
  window_->RefreshLoginState();
  EXPECT_EQ(window_->uid(), "0");
  SetParameter("uid", "u2");
  window_->RefreshLoginState();
  EXPECT_EQ(window_->uid(), "u2");
  EXPECT_EQ(window_->collection().User().uid, "u2");
}

TEST_F(MainWindowTest, PasswordIsMixedIntoTheFixedReply) {
  Open();
  std::string reply = Command("Request", "{\"Type\":\"PasswordMD\",\"Data\":\"secret\"}");
  const std::string head =
      "{\r\n\"Function\": \"Request\",\r\n\"UID\": \"\",\r\n\"SessionID\": \"\",\r\n\"ID\": "
      "\"\",\r\n\"Status\": \"1\",\r\n\"Return\": \"0\",\r\n\"Message\":\"\",\"Para\":{\"Rows\":"
      "\"1\",\"Columns\":\"1\",\"ColumnName\":[\"PasswordMD\"],\"Data\":[\"";
  ASSERT_EQ(reply.compare(0, head.size(), head), 0) << reply;
  std::string mixed = reply.substr(head.size(), reply.size() - head.size() - 4);
  EXPECT_EQ(reply.substr(reply.size() - 4), "\"]}}");
  EXPECT_EQ(mixed.size(), 32u);
  // A fresh key every time.
  EXPECT_NE(Command("Request", "{\"Type\":\"PasswordMD\",\"Data\":\"secret\"}"), reply);
}

TEST_F(MainWindowTest, NoCatalogueGives404AndAsksForASyncOnlyWhenSignedInAndOnline) {
  const std::string expected =
      "{\r\n\"Function\": \"TomerackRequest\",\r\n\"SessionID\": \"\",\r\n\"ID\": \"\",\r\n"
      "\"Status\": \"1\",\r\n\"Return\": \"404\",\r\n\"Message\":\"无本地书架信息，正在读取远程书架，"
      "请稍候再试\",\"Para\":{}\r\n}";
  struct Case {
    bool logged_in;
    bool cdrom;
    bool sync_expected;
  };
  for (Case c : {Case{false, false, false}, Case{true, false, true}, Case{true, true, false}}) {
    SCOPED_TRACE(std::to_string(c.logged_in) + std::to_string(c.cdrom));
    ParameterStore::Instance().Clear();
    if (c.cdrom) SetParameter("cdrom", "1");
    Open();
    if (c.logged_in) {
      Command("Report", "{\"Type\":\"Login\"}");
      window_->collection().StopSyncThread();
    }
    window_->collection().sync_requested = false;
    // "refresh" skips the login refresh, which asks for a pass by itself.
    EXPECT_EQ(Command("Request", "{\"Type\":\"Tomerack\",\"Data\":\"refresh\"}"), expected);
    EXPECT_EQ(window_->collection().sync_requested.load(), c.sync_expected);
    window_.reset();
  }
}

TEST_F(MainWindowTest, CatalogueOfTheSignedInUserIsReturnedAsItCame) {
  Open();
  SetParameter("uid", "u1");
  window_->RefreshLoginState();
  const std::string raw = "{\"Return\":\"0\",\"UID\":\"u1\",\"Para\":{}}";
  window_->collection().catalogue().Store(raw, {});
  EXPECT_EQ(Command("Request", "{\"Type\":\"Tomerack\"}"), raw);
}

TEST_F(MainWindowTest, BookStatusIsTheBareArrayAndBookDownloadTheStatusRows) {
  Open();
  Catalogue({{"b1", "g1"}});
  Record("g1", kBookInstalled);
  std::string status =
      Command("Request", "{\"Type\":\"bookOperate\",\"Data\":{\"Type\":\"bookStatus\","
                         "\"bsid\":\"b1\"}}");
  ASSERT_FALSE(status.empty());
  EXPECT_EQ(status.front(), '[');
  EXPECT_EQ(status.find("\"Function\""), std::string::npos);
  std::string rows = Command("Request", "{\"Type\":\"BookDownload\"}");
  EXPECT_NE(rows.find("\"b1\""), std::string::npos) << rows;
}

TEST_F(MainWindowTest, RefusedOperationWithoutTextSaysOperationFailed) {
  Open();
  Catalogue({{"b1", "g1"}});
  // The catalogue knows no such book: refused, and the collection has no
  // words for it.
  std::string reply =
      Command("Request", "{\"Type\":\"bookOperate\",\"Data\":{\"Type\":\"bookStatus\","
                         "\"bsid\":\"nope\"}}");
  EXPECT_EQ(Member(reply, "Message"), "操作出错");
  EXPECT_NE(Member(reply, "Return"), "0");
}

TEST_F(MainWindowTest, SelectingABookDoesWhatItsStatusAllows) {
  struct Case {
    const char* name;
    int status;  // -1: no record
    std::vector<std::string> shown;
  };
  const Case cases[] = {
      {"no record", -1, {"box:该教材还未安装，请稍后再试！"}},
      {"installing", kBookDownloaded, {"box:\r\n\r\n正在安装，请稍候！@0"}},
      {"upgrading", kBookInstalled | kBookDownloading, {"box:\r\n\r\n正在升级，请稍候！@0"}},
      {"downloading", kBookDownloading, {"box:\r\n\r\n正在下载，请稍候！@0"}},
      // Installed: opened, and its reader program is missing.
      {"installed", kBookInstalled, {"box:教材文件缺失，请卸该本教材，重新下载！"}},
      // Not installed: the download is refused (no newest package), and the
      // refusal follows the notice.
      {"not installed",
       0,
       // Both posts find the newest message when the window gets to them.
       {"box:错误：lastest bookPackageID为空！@0", "box:错误：lastest bookPackageID为空！@0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Open();
    Catalogue({{"b1", "g1"}});
    if (c.status >= 0) {
      RecordPtr record = Record("g1", static_cast<uint32_t>(c.status));
      if (c.status == 0) record->Update([](BookFields& f) { f.last_bookPackageID.clear(); });
    }
    frame().messages.clear();
    notifications_.log.clear();
    Command("Report", "{\"Type\":\"TomerackSelection\",\"Data\":\"b1\"}");
    EXPECT_EQ(window_->selected_book(), "b1");
    ui_.Drain();
    std::vector<std::string> shown = notifications_.log;
    // Message boxes of the opening come from the frame; note them alike.
    for (const std::string& m : frame().messages) shown.push_back("box:" + m.substr(m.find('|') + 1));
    EXPECT_EQ(shown, c.shown);
    window_.reset();
  }
}

TEST_F(MainWindowTest, DownloadRefusedForAnUninstallIsTurnedIntoTheUninstall) {
  Open();
  Catalogue({{"b1", "g1"}});
  RecordPtr record = Record("g1", 0);
  record->uninstalling = true;  // "正在卸载课本，请稍后再试..."
  std::string reply = Command("Report", "{\"Type\":\"TomerackSelection\",\"Data\":\"b1\"}");
  // The download's code is replied, with the uninstall's (empty) message.
  EXPECT_NE(Member(reply, "Return"), "0");
  EXPECT_EQ(Member(reply, "Message"), "正在卸载课本，请稍后再试...");
}

TEST_F(MainWindowTest, LaunchEBookIsKnownAndDoesNothing) {
  Open();
  int id = 0;
  ASSERT_EQ(window_->GetIDsOfNames(u"launchebook", id), DispatchResult::kOk);
  EXPECT_EQ(id, kMethodLaunchEBook);
  ScriptValue result;
  window_->Invoke(id, kDispatchMethod, {}, result);
  EXPECT_EQ(result.kind(), ScriptValueKind::kBool);
  EXPECT_EQ(result.integer(), 0);
  window_->Invoke(id, kDispatchPropertyGet, {}, result);
  EXPECT_EQ(result.kind(), ScriptValueKind::kNull);
}

TEST_F(MainWindowTest, MainWindowShowsOnlyThePage) {
  Open();
  EXPECT_FALSE(frame().controls_visible);
  EXPECT_EQ(frame().state, "maximized");
}

TEST_F(MainWindowTest, StartPageRules) {
  struct Case {
    const char* value;
    std::string expected;
  };
  const Case cases[] = {
      {"", JoinPath(dir(), "DTM/Index.html")},
      {"pages/start.html", JoinPath(dir(), "pages/start.html")},
      {"/srv/school/start.html", "/srv/school/start.html"},
      {"C:/dtm/start.html", "C:/dtm/start.html"},
      {"http://portal.example/start", "http://portal.example/start"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    ParameterStore::Instance().Clear();
    Open(std::string("[system]\nstartpage=") + c.value + "\n");
    EXPECT_EQ(frame().control.navigations.back(), c.expected);
    window_.reset();
  }
}

TEST_F(MainWindowTest, DtmKeysOfTheIniFileOverrideTheConfiguration) {
  SetParameter("wwwhome_data", "http://from-config/data/");
  Open("[DTM]\nwwwhome_data=http://from-ini/data/\nuid=u9\n");
  EXPECT_EQ(GetParameter("wwwhome_data"), "http://from-ini/data/");
  EXPECT_EQ(window_->collection().DataServerRoot(), "http://from-ini/data");
  EXPECT_EQ(window_->uid(), "u9");
  EXPECT_EQ(window_->collection().User().uid, "u9");
}

TEST_F(MainWindowTest, WorkerRequestsReachTheWindowOnlyThroughTheUiLoop) {
  Open();
  SetTipText("tip one");
  window_->collection().PostToOwner(OwnerRequest::kShowTip);
  window_->collection().ShowCollectionMessage("words", 1500);
  EXPECT_TRUE(notifications_.log.empty());
  ui_.Drain();
  EXPECT_EQ(notifications_.log, (std::vector<std::string>{"tip:tip one", "box:words@1500"}));
  // A post that arrives after the window has gone finds nobody.
  window_->PostWindowMessage(MainWindowMessage::kShowTip, 1);
  window_->collection().PostToOwner(OwnerRequest::kHideTip);
  window_.reset();
  ui_.Drain();
  EXPECT_EQ(notifications_.log.size(), 2u);
}

TEST_F(MainWindowTest, ExitSequenceShowsItsStepsAndEndsEverything) {
  Open();
  // A reader that would otherwise outlive the window.
  WriteFile("reader/keep.sh", "#!/bin/sh\nsleep 60\n");
  chmod(Path("reader/keep.sh").c_str(), 0755);
  platform::ProcessHandle reader = platform::StartProcess(Path("reader/keep.sh"), {});
  ASSERT_TRUE(reader.valid());
  int pid = reader.pid();
  window_->readers().Put(Path("reader/keep.sh"), std::move(reader));
  window_->collection().StartSyncThread();
  notifications_.log.clear();
  frame().modal_running = true;

  static_cast<WindowFrameEvents&>(frame().events).OnCloseRequest();
  EXPECT_EQ(notifications_.log,
            (std::vector<std::string>{
                "top:正在退出数字教材，请稍候...", "top+正在退出数字教材，请稍候....",
                "top+正在退出数字教材，请稍候.....", "top+正在退出数字教材，请稍候......",
                "top+正在退出数字教材，请稍候.......", "top hidden"}));
  EXPECT_TRUE(IsApplicationExiting());
  EXPECT_TRUE(window_->allow_close_);
  EXPECT_FALSE(frame().modal_running);
  EXPECT_EQ(window_->readers().size(), 0u);
  EXPECT_FALSE(platform::ProcessRunsProgram(pid, Path("reader/keep.sh")));
}

}  // namespace
