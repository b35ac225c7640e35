// The program's main window: a browser window whose page is the service's
// user interface. It owns the user's book collection, the server probe, the
// self-upgrade check and the running readers; it answers the page's
// commands ("Bounce", "Report", "Request"), shows the notification windows
// for the collection's workers, opens books in their readers and runs the
// exit sequence when it is closed.
//
// Everything here runs on the UI thread. Workers reach the window only by
// posting (PostWindowMessage); waits for other threads that a command or
// the exit sequence needs are made with the UI loop turning, so the window
// never freezes.
#pragma once

#include <memory>
#include <string>

#include "app/notification_windows.h"
#include "app/reader_launch.h"
#include "books/book_collection.h"
#include "browser/dialog_ie.h"
#include "config/server_probe.h"
#include "net/upgrade_checker.h"

inline constexpr int kMethodLaunchEBook = 152;

inline constexpr const char kLoginTip[] = "正在登录，请稍候...";
inline constexpr const char kExitTip[] = "正在退出数字教材，请稍候...";
inline constexpr const char kMissingDataMessage[] = "json格式有错，缺少Data";
inline constexpr const char kMissingTypeMessage[] = "json格式有错，缺少Type";
inline constexpr const char kMissingBsidMessage[] = "json格式有错，缺少bsid";
inline constexpr const char kOperationFailedMessage[] = "操作出错";
inline constexpr const char kNoCatalogueMessage[] = "无本地书架信息，正在读取远程书架，请稍候再试";
inline constexpr int kNoCatalogueCode = 404;

// The window's own messages; posted from any thread, handled on the UI
// thread while the window exists.
enum class MainWindowMessage { kBookOpen, kShowTip, kShowMessageBox };

class CDialog_TomeRack : public CDialogIE {
 public:
  CDialog_TomeRack();
  ~CDialog_TomeRack() override;

  // window.external
  bool GetMethodId(const std::string& name, int& id) override;
  void InvokeMethod(int id, int flags, const std::vector<ScriptValue>& arguments,
                    ScriptValue& result) override;

  bool OnCommand(std::string& reply, const std::string& command_text, const cJSON* command,
                 const std::vector<std::string>& header, int& code, std::string& message) override;

  // Queues a message for this window; dropped when the window is gone.
  void PostWindowMessage(MainWindowMessage message, int wparam = 0);

  void RefreshServiceAddresses();
  void RefreshLoginState();
  void RestartServerProbe();
  void StopBookReader(const std::string& bsid);
  void TerminateAllReaders();

  BookCollection& collection() { return collection_; }
  ReaderProcessTable& readers() { return readers_; }
  bool logged_in() const { return logged_in_ != 0; }
  bool cdrom_mode() const { return cdrom_mode_ != 0; }
  const std::string& selected_book() const { return selected_book_; }
  const std::string& uid() const { return uid_; }
  bool exiting() const { return exiting_; }

 protected:
  bool OnInitDialog() override;
  void OnCloseRequest() override;

 private:
  void HandleMessage(MainWindowMessage message, int wparam);
  void OnBookOpen();
  void OnShowTip(bool show);
  void OnShowMessageBox(bool show);
  NotificationWindows* Notifications();

  void ApplyDtmKeys();
  // uid and the page's sessionid, username and password become the user.
  void TakeUserFromPage(const std::string& uid);
  void StartCollection();
  // What the collection's workers call to reach this window: a post.
  OwnerPoster OwnerPosterForWindow();
  void RunExitSequence();
  void StopBookWork();

  int Report(const std::string& type, const cJSON* para, std::string& message);
  int Request(const std::string& type, const cJSON* para, std::string& reply,
              std::string& message);
  void Login();
  int SelectBook(const std::string& bsid, std::string& message);
  std::string CatalogueReply(const cJSON* para);
  int OperateBook(const cJSON* para, std::string& reply, std::string& message);
  void RequestSyncIfOnline();

  ServerProber prober_;
  UpgradeChecker upgrade_;
  ReaderProcessTable readers_;
  std::string selected_book_;
  std::string reader_user_;
  std::string username_, password_, uid_ = "0", sessionid_;
  std::string instance_ini_path_;
  int logged_in_ = 0;
  int cdrom_mode_ = 0;
  bool exiting_ = false;
  BookCollection collection_;
  std::unique_ptr<NotificationWindows> notifications_;
  // Posted messages hold this; the destructor clears it.
  std::shared_ptr<CDialog_TomeRack*> self_;
};

// The page the main window opens first: [system] startpage of the instance
// INI file (stored as the parameter), else the parameter, else
// DTM/Index.html. URLs and absolute paths are used as they are, other
// values are relative to the program directory.
std::string ResolveStartPage();
