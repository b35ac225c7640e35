// The browser window: a native window holding one web view, the page's
// window.external, the command queue and its timer. Every window of the
// program is one of these or of a subclass.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/command_envelope.h"
#include "browser/host_dispatch.h"
#include "browser/web_browser_control.h"
#include "browser/window_frame.h"

// Method ids of window.external.
enum HostMethodId {
  kMethodAppInterface = 101,
  kMethodAppInterfaceHref = 102,
  kMethodAppInterfaceLog = 103,
  kMethodGetFileList = 105,
  kMethodReadFile = 106,
  kMethodMoveFile = 107,
  kMethodWriteFile = 108,
  kMethodDeleteFile = 109,
  kMethodReadFileDB = 110,
  kMethodQuitApp = 121,
  kMethodMinWindow = 122,
  kMethodMaxWindow = 123,
  kMethodSystemPara = 124,
  kMethodSetGlobalPara = 125,
  kMethodGetGlobalPara = 126,
  kMethodHttpDownload = 127,
  kMethodFileToBase64 = 128,
  kMethodHttpUpload2 = 129,
  kMethodHttpUpload = 130,
  kMethodAppendFile = 131,
  kMethodSetCustomPara = 132,
  kMethodGetCustomPara = 133,
  kMethodImageProcess = 134,
  kMethodSetWindowSize = 135,
  kMethodCenterWindow = 136,
  kMethodRegisterRead = 137,
  kMethodRegisterWrite = 138,
};

// Id of a name of the method table (case ignored), or false.
bool FindHostMethodId(const std::string& name, int& id);

inline constexpr int kCommandTimerId = 5;
inline constexpr int kCommandTimerPeriodMs = 500;
inline constexpr const char kBrowserWindowCaption[] = "浏览器";
inline constexpr const char kBrowserEmulationKey[] =
    "SOFTWARE\\Microsoft\\Internet Explorer\\MAIN\\FeatureControl\\FEATURE_BROWSER_EMULATION";
inline constexpr const char kBrowserVersionKey[] = "SOFTWARE\\Microsoft\\Internet Explorer";

// A window's say over page messages.
class CIEHost_Interface {
 public:
  virtual ~CIEHost_Interface() = default;
  // False suppresses the message box. The base allows every message.
  virtual bool FilterMessage(const std::string& caption, const std::string& text);
};

// A window's say over downloads the page starts.
class CDownLoadManager_interface {
 public:
  virtual ~CDownLoadManager_interface() = default;
  virtual bool GetDownloadTarget(std::string& directory, std::string& name);
  virtual bool UseOwnDownloadManager();
};

class CDialogIE : public CDialogIE_Interface,
                  public CImpIDispatch,
                  public CDownLoadManager_interface,
                  public CIEHost_Interface,
                  protected WindowFrameEvents,
                  protected WebBrowserEvents {
 public:
  CDialogIE();
  ~CDialogIE() override;

  // Creates the native window and runs the initialisation: the page opens
  // when the window has a window ID, the command timer starts.
  bool Create();
  // Creates the window and runs it until a close request ends it.
  void DoModal();
  // Opens an address in the window's page (a URL or a local path).
  void NavigateTo(const std::string& address);

  // Every registered window that is not modal is deleted; the registry is
  // emptied. At exit.
  static void CloseAllWindows();
  // Asks every window whose window ID is id to close (later, each on its
  // own); nothing for an empty id.
  static void CloseWindowsWithId(const std::string& id);

  // Virtual operations a subclass may change.
  virtual int OnNewWindowRequest(const std::string& url);
  virtual void OnPageLoaded(const std::string& url);
  virtual std::string GetCustomPara(const std::string& name);
  virtual std::string SetCustomPara(const std::string& name, const std::string& value);
  virtual std::string GetVariable(const std::string& name);
  virtual void OnTimerTick(int timer_id);
  virtual int OnHomeButton();

  // window.external
  bool GetMethodId(const std::string& name, int& id) override;
  void InvokeMethod(int id, int flags, const std::vector<ScriptValue>& arguments,
                    ScriptValue& result) override;

  // Whether the page now shown may have this window open address (a URL or
  // a path): web addresses and relative ones always, local files only from
  // a trusted local page. Refusals are logged.
  bool PageMayOpen(const std::string& address);

  // Runs the next queued page command, if any (the command timer's work).
  void RunNextPageCommand();

  WindowFrame* frame() { return frame_.get(); }
  uintptr_t handle() const { return frame_ ? frame_->handle() : 0; }

  // Members that the application and subclasses set.
  bool modal_ = false;
  bool allow_close_ = false;
  bool silent_ = false;
  std::string url_;
  std::string pending_window_id_;
  bool show_ = false;
  std::string js_start_;
  std::string js_inject_;
  bool first_load_ = true;
  std::string window_id_;
  bool allow_popups_ = true;
  int timer_id_ = 0;
  // JS_Start and JS_Inject of the open-window command, for the next pop-up
  // this window opens through its control.
  std::string pending_js_start_;
  std::string pending_js_inject_;
  std::string icon_path_;  // the icon file in use, empty for the program's own

 protected:
  virtual bool OnInitDialog();
  // Carries out an open-window command.
  virtual void OpenWindowFromCommand(const PageCommand& command);

  // WindowFrameEvents
  void OnButton(int id) override;
  void OnAddressEnter() override;
  void OnCloseRequest() override;
  void OnTimer(int timer_id) override;

  // WebBrowserEvents
  void OnStatusTextChange(const std::string& text) override;
  void OnTitleChange(const std::string& title) override;
  void OnDownloadBegin() override;
  void OnNavigateComplete(const std::string& url) override;
  void OnDocumentComplete(const std::string& url) override;
  void OnDownloadComplete() override;
  bool OnNewWindow(const std::string& url) override;
  void OnScriptAlert(const std::string& text, const std::string& caption) override;
  bool OnScriptConfirm(const std::string& text, const std::string& caption) override;
  bool OnKeyDown(unsigned key, bool control_down) override;
  CImpIDispatch* GetExternal() override;

  WebBrowserControl* browser() { return frame_ ? &frame_->browser() : nullptr; }

 private:
  void WriteBrowserEmulation();
  std::string EnvironmentJson();
  // A transfer turns the UI loop while the page waits, so the window may be
  // asked to close in the middle of its own call: it goes once the calls
  // have returned.
  int calls_under_way_ = 0;
  bool close_when_calls_end_ = false;

  std::unique_ptr<WindowFrame> frame_;
};

// A window a page opened (window.open, a link with a new target, or the
// open-window command's shared form): only the page, and downloads go
// through the user's choice of file, not the window's own manager.
class CDialogIE_NewWnd : public CDialogIE {
 public:
  bool UseOwnDownloadManager() override;

 protected:
  bool OnInitDialog() override;
};

// The registry of live browser windows.
CDialogIE* FindWindowByHandle(uintptr_t handle);
CImpIDispatch* FindExternalByWindow(uintptr_t handle);
CIEHost_Interface* FindHostByWindow(uintptr_t handle);
CDownLoadManager_interface* FindDownloadByWindow(uintptr_t handle);
size_t RegisteredWindowCount();

// True for F5, and for O, P and N with Ctrl: the page never sees them.
bool IsSwallowedKey(unsigned key, bool control_down);
