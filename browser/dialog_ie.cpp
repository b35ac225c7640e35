#include "browser/dialog_ie.h"

#include <algorithm>
#include <mutex>

#include "app/config_file.h"
#include "browser/call_text.h"
#include "browser/trusted_pages.h"
#include "config/daily_log.h"
#include "config/parameter_store.h"
#include "config/program_paths.h"
#include "platform/codepage.h"
#include "platform/ini_file.h"
#include "platform/ui_loop.h"
#include "services/service_methods.h"
#include "util/file_io.h"
#include "util/gbk_json.h"
#include "util/number_text.h"
#include "util/path_names.h"
#include "util/registry_helpers.h"

namespace {

struct HostMethod {
  const char* name;
  int id;
};

constexpr HostMethod kHostMethods[] = {
    {"AppInterface", kMethodAppInterface},
    {"AppInterface_Href", kMethodAppInterfaceHref},
    {"AppInterface_log", kMethodAppInterfaceLog},
    {"AppInterface_GetFileList", kMethodGetFileList},
    {"AppInterface_ReadFile", kMethodReadFile},
    {"AppInterface_MoveFile", kMethodMoveFile},
    {"AppInterface_WriteFile", kMethodWriteFile},
    {"AppInterface_DeleteFile", kMethodDeleteFile},
    {"AppInterface_ReadFileDB", kMethodReadFileDB},
    {"QuitApp", kMethodQuitApp},
    {"MinWindow", kMethodMinWindow},
    {"MaxWindow", kMethodMaxWindow},
    {"SystemPara", kMethodSystemPara},
    {"SetGlobalPara", kMethodSetGlobalPara},
    {"GetGlobalPara", kMethodGetGlobalPara},
    {"HTTPDownload", kMethodHttpDownload},
    {"FileToBase64", kMethodFileToBase64},
    {"HTTPUpload2", kMethodHttpUpload2},
    {"HTTPUpload", kMethodHttpUpload},
    {"AppInterface_AppendFile", kMethodAppendFile},
    {"SetCustomPara", kMethodSetCustomPara},
    {"GetCustomPara", kMethodGetCustomPara},
    {"ImageProcess", kMethodImageProcess},
    {"SetWindowSize", kMethodSetWindowSize},
    {"CenterWindow", kMethodCenterWindow},
    {"RegisterRead", kMethodRegisterRead},
    {"RegisterWrite", kMethodRegisterWrite},
};

// The environment values with a fixed source, in the order the empty name
// lists them.
constexpr const char* kEnvironmentNames[] = {
    "APPLICATION_DB_USEFILE", "APPLICATION_UI_USEFILE", "SERVER_HTTP_ROOT",
    "SERVER_HTTP_IP",         "SERVER_HTTP_PORT",
};

constexpr unsigned kKeyF5 = 0x74;
constexpr size_t kBrowserVersionLimit = 200;
constexpr const char kConfigParameterPrefix[] = "_CONFIG_EF_";

std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}

std::vector<CDialogIE*>& Registry() {
  static std::vector<CDialogIE*> windows;
  return windows;
}

void Unregister(CDialogIE* window) {
  std::lock_guard<std::mutex> hold(RegistryLock());
  auto& windows = Registry();
  windows.erase(std::remove(windows.begin(), windows.end(), window), windows.end());
}

WindowFrameFactory* g_frame_factory = nullptr;

}  // namespace

void SetWindowFrameFactory(WindowFrameFactory* factory) {
  g_frame_factory = factory;
}
WindowFrameFactory* GetWindowFrameFactory() {
  return g_frame_factory;
}

bool FindHostMethodId(const std::string& name, int& id) {
  for (const HostMethod& method : kHostMethods) {
    if (platform::GbkEqualsNoCase(name, method.name)) {
      id = method.id;
      return true;
    }
  }
  return false;
}

bool IsSwallowedKey(unsigned key, bool control_down) {
  if (key == kKeyF5) return true;
  return control_down && (key == 'O' || key == 'P' || key == 'N');
}

bool CIEHost_Interface::FilterMessage(const std::string&, const std::string&) {
  return true;
}

bool CDownLoadManager_interface::GetDownloadTarget(std::string&, std::string&) {
  return true;
}
bool CDownLoadManager_interface::UseOwnDownloadManager() {
  return true;
}

// ---------------------------------------------------------------------------
// Registry of windows

CDialogIE* FindWindowByHandle(uintptr_t handle) {
  if (handle == 0) return nullptr;
  std::lock_guard<std::mutex> hold(RegistryLock());
  for (CDialogIE* window : Registry()) {
    if (window->handle() == handle) return window;
  }
  return nullptr;
}

CImpIDispatch* FindExternalByWindow(uintptr_t handle) {
  return FindWindowByHandle(handle);
}
CIEHost_Interface* FindHostByWindow(uintptr_t handle) {
  return FindWindowByHandle(handle);
}
CDownLoadManager_interface* FindDownloadByWindow(uintptr_t handle) {
  return FindWindowByHandle(handle);
}

size_t RegisteredWindowCount() {
  std::lock_guard<std::mutex> hold(RegistryLock());
  return Registry().size();
}

void CDialogIE::CloseAllWindows() {
  std::vector<CDialogIE*> windows;
  {
    std::lock_guard<std::mutex> hold(RegistryLock());
    windows.swap(Registry());
  }
  // Deleted outside the lock: a destructor looks the registry up again.
  for (CDialogIE* window : windows) {
    if (!window->modal_) delete window;
  }
}

// ---------------------------------------------------------------------------
// Life

CDialogIE::CDialogIE() {
  std::string icon = JoinPath(GetSystemDirectoryPath(), "main.ico");
  if (FileExists(icon)) icon_path_ = icon;
  {
    std::lock_guard<std::mutex> hold(RegistryLock());
    Registry().push_back(this);
  }
  WriteBrowserEmulation();
}

CDialogIE::~CDialogIE() {
  Unregister(this);
  if (frame_) frame_->StopTimers();
  frame_.reset();
}

// The emulation level that the Windows control reads; harmless elsewhere,
// kept so that the stored settings look the same on every platform.
void CDialogIE::WriteBrowserEmulation() {
  std::string version;
  if (RegReadText(RegistryHive::kLocalMachine, kBrowserVersionKey, "Version", version) != 0) {
    version.clear();
  }
  if (version.size() > kBrowserVersionLimit) version.resize(kBrowserVersionLimit);
  std::string ini = GetInstanceIniPath();
  int emulation = platform::GetPrivateProfileInt("ie", "version", 9999, ini);
  RegWriteNumber(static_cast<uint32_t>(emulation), RegistryHive::kLocalMachine,
                 kBrowserEmulationKey, GetProgramFileName());
  platform::WritePrivateProfileString("ie", "version_check", version, ini);
}

bool CDialogIE::Create() {
  if (frame_) return true;
  if (g_frame_factory == nullptr) return false;
  frame_ = g_frame_factory->CreateFrame(*this, *this);
  if (!frame_) return false;
  frame_->SetTitle(kBrowserWindowCaption);
  return OnInitDialog();
}

bool CDialogIE::OnInitDialog() {
  WebBrowserControl& control = frame_->browser();
  control.SetEvents(this);
  control.SetSilent(silent_);
  if (!icon_path_.empty() && !frame_->SetIconFromFile(icon_path_)) icon_path_.clear();
  if (!window_id_.empty()) control.Navigate(url_);
  frame_->StartTimer(kCommandTimerId, kCommandTimerPeriodMs);
  timer_id_ = kCommandTimerId;
  return true;
}

void CDialogIE::DoModal() {
  modal_ = true;
  if (!Create()) return;
  frame_->Show();
  frame_->RunModal();
}

void CDialogIE::NavigateTo(const std::string& address) {
  url_ = address;
  if (WebBrowserControl* control = browser()) control->Navigate(address);
}

// ---------------------------------------------------------------------------
// Virtual operations

int CDialogIE::OnNewWindowRequest(const std::string&) {
  return 0;
}
void CDialogIE::OnPageLoaded(const std::string&) {}
std::string CDialogIE::GetCustomPara(const std::string&) {
  return std::string();
}
std::string CDialogIE::SetCustomPara(const std::string&, const std::string&) {
  return std::string();
}
void CDialogIE::OnTimerTick(int) {}
int CDialogIE::OnHomeButton() {
  return 0;
}

namespace {

// An empty window ID, or one beginning with 0, closes no other window.
bool ClosesOtherWindows(const std::string& id) {
  return !id.empty() && id[0] != '0';
}

}  // namespace

bool CDialogIE::PageMayOpen(const std::string& address) {
  std::string current = browser() ? platform::GbkToUtf8(browser()->LocationURL()) : std::string();
  std::string utf8 = platform::GbkToUtf8(address);
  // A relative address stays on the page's own scheme; anything else is
  // what it names, a local path a file.
  std::string target = IsRelativeAddress(utf8) ? current : AddressToUrl(utf8);
  if (CurrentTrustedPages().PageMayLoad(current, target)) return true;
  WriteLogLine("Refused for " + (current.empty() ? std::string("(no page)") : platform::Utf8ToGbk(current)) +
               ": " + address);
  return false;
}

void CDialogIE::CloseWindowsWithId(const std::string& id) {
  if (id.empty()) return;
  std::lock_guard<std::mutex> hold(RegistryLock());
  // Each window closes itself later, when its request comes round.
  for (CDialogIE* window : Registry()) {
    if (window->window_id_ == id && window->frame_) window->frame_->PostCloseRequest();
  }
}

// The open-window command: texts URL, ID, Session, Show, JS_Start,
// JS_Inject. "Session" opens the page through this window's control, so that
// the new window is this window's pop-up; otherwise a plain window opens.
// The new window runs JS_Inject and JS_Start after its first page.
void CDialogIE::OpenWindowFromCommand(const PageCommand& command) {
  const std::vector<std::string>& t = command.texts;
  if (t.size() < 6) return;
  // The command comes from page content: no local file unless the page is
  // one of ours.
  if (!PageMayOpen(t[0])) return;
  const std::string& id = t[1];
  bool shared = ParseLeadingInt(t[2]) != 0;
  bool show = ParseLeadingInt(t[3]) != 0;
  if (shared) {
    url_ = t[0];
    pending_window_id_ = id;
    show_ = show;
    pending_js_start_ = t[4];
    pending_js_inject_ = t[5];
    if (ClosesOtherWindows(id)) CloseWindowsWithId(id);
    if (WebBrowserControl* control = browser()) control->Navigate(t[0], "_blank");
    return;
  }
  if (ClosesOtherWindows(id)) CloseWindowsWithId(id);
  auto* window = new CDialogIE();
  window->url_ = t[0];
  window->pending_window_id_ = id;
  window->window_id_ = id;
  window->show_ = show;
  window->js_start_ = t[4];
  window->js_inject_ = t[5];
  if (!window->Create()) {
    delete window;
    return;
  }
  // A window without an ID is not navigated by its initialisation.
  if (id.empty()) window->NavigateTo(t[0]);
  if (show) {
    window->frame()->Show();
  } else {
    window->frame()->Hide();
  }
}

std::string CDialogIE::GetVariable(const std::string& name) {
  const AppServerSettings& settings = app_server();
  if (platform::GbkEqualsNoCase(name, "APPLICATION_DB_USEFILE"))
    return std::to_string(settings.db_use_file);
  if (platform::GbkEqualsNoCase(name, "APPLICATION_UI_USEFILE"))
    return std::to_string(settings.ui_use_file);
  if (platform::GbkEqualsNoCase(name, "SERVER_HTTP_ROOT")) return settings.uri;
  if (platform::GbkEqualsNoCase(name, "SERVER_HTTP_IP")) return settings.server;
  if (platform::GbkEqualsNoCase(name, "SERVER_HTTP_PORT")) return std::to_string(settings.port);
  if (platform::GbkEqualsNoCase(name, "DIR_MODULE")) return GetProgramDirectory();
  if (platform::GbkEqualsNoCase(name, "DIR_SYSTEM")) return GetSystemDirectoryPath();
  if (platform::GbkEqualsNoCase(name, "DIR_TMP")) {
    std::string temp = GetTempDirectoryPath();
    CreateDirectoryTree(temp);
    return temp;
  }
  if (platform::GbkEqualsNoCase(name, "PATH_MODULE")) return GetProgramPath();
  if (name.empty()) return EnvironmentJson();
  return GetParameter(name);
}

std::string CDialogIE::EnvironmentJson() {
  JsonPtr object(cJSON_CreateObject());
  for (const char* name : kEnvironmentNames) {
    cJSON_AddStringToObject(object.get(), name, GetVariable(name).c_str());
  }
  ParameterMap parameters;
  CopyAllParameters(parameters);
  for (const auto& [name, value] : parameters) {
    cJSON_AddStringToObject(object.get(), name.c_str(), value.c_str());
  }
  return PrintGbkJson(object.get());
}

// ---------------------------------------------------------------------------
// window.external

bool CDialogIE::GetMethodId(const std::string& name, int& id) {
  return FindHostMethodId(name, id);
}

void CDialogIE::InvokeMethod(int id, int flags, const std::vector<ScriptValue>& arguments,
                             ScriptValue& result) {
  result = ScriptValue();
  // Every access to QuitApp closes, a property read included.
  if (id == kMethodQuitApp) {
    if (frame_) frame_->PostCloseRequest();
    result = (flags & kDispatchMethod) ? ScriptValue::Null() : ScriptValue::Bool(true);
    return;
  }
  if ((flags & kDispatchMethod) == 0) {
    if (flags & kDispatchPropertyGet) result = ScriptValue::Bool(true);
    return;
  }
  switch (id) {
    case kMethodAppInterface:
      result = TextResult(ExecuteCommand(TextArgument(arguments, 0)));
      return;
    case kMethodAppInterfaceHref:
      if (PageMayOpen(TextArgument(arguments, 0))) {
        command_queue().PostNavigate(TextArgument(arguments, 0));
      }
      result = ScriptValue::Null();
      return;
    case kMethodAppInterfaceLog:
      WriteLogLine(TextArgument(arguments, 0));
      result = ScriptValue::Null();
      return;
    case kMethodMinWindow:
      if (frame_) frame_->Minimize();
      result = ScriptValue::Bool(true);
      return;
    case kMethodMaxWindow:
      if (frame_) frame_->Maximize();
      result = ScriptValue::Bool(true);
      return;
    case kMethodSystemPara:
    case kMethodGetGlobalPara:
      result = TextResult(GetVariable(TextArgument(arguments, 0)));
      return;
    case kMethodSetGlobalPara: {
      result = ScriptValue::Null();
      if (arguments.size() < 2) return;
      std::string name = TextArgument(arguments, 0);
      std::string value = TextArgument(arguments, 1);
      if (platform::GbkEqualsNoCase(name.substr(0, 11), kConfigParameterPrefix)) {
        SetConfigPara(GetConfigFilePath(), name, value);
      } else {
        SetParameter(name, value);
      }
      return;
    }
    case kMethodGetCustomPara:
      result = TextResult(GetCustomPara(arguments.size() == 1 ? TextArgument(arguments, 0) : ""));
      return;
    case kMethodSetCustomPara: {
      std::string name =
          arguments.size() == 1 || arguments.size() == 2 ? TextArgument(arguments, 0) : "";
      std::string value = arguments.size() == 2 ? TextArgument(arguments, 1) : "";
      result = TextResult(SetCustomPara(name, value));
      return;
    }
    case kMethodSetWindowSize: {
      result = ScriptValue::Bool(true);
      if (arguments.size() < 2 || !frame_) return;
      int width = IntegerArgument(arguments, 0);
      int height = IntegerArgument(arguments, 1);
      if (width == 0 || height == 0) return;
      WindowRect rect = frame_->GetRect();
      frame_->SetRect(rect.left, rect.top, width, height);
      return;
    }
    case kMethodCenterWindow: {
      result = ScriptValue::Bool(true);
      if (!frame_) return;
      WindowRect rect = frame_->GetRect();
      int width = rect.right - rect.left + 1;
      int height = rect.bottom - rect.top + 1;
      int screen_width = 0;
      int screen_height = 0;
      frame_->GetScreenSize(screen_width, screen_height);
      frame_->SetRect((screen_width - width) / 2, (screen_height - height) / 2, width, height);
      return;
    }
    default: {
      ++calls_under_way_;
      InvokeServiceMethod(id, arguments, command_queue(), result);
      if (--calls_under_way_ == 0 && close_when_calls_end_) {
        // Later, once the call has unwound out of this window, and only if
        // nothing else has ended the window meanwhile.
        platform::PostToUiThread([handle = handle()] {
          if (CDialogIE* window = FindWindowByHandle(handle)) window->OnCloseRequest();
        });
      }
      return;
    }
  }
}

// ---------------------------------------------------------------------------
// Command timer

void CDialogIE::OnTimer(int timer_id) {
  OnTimerTick(timer_id);
  if (timer_id != kCommandTimerId) return;
  RunNextPageCommand();
}

void CDialogIE::RunNextPageCommand() {
  std::unique_ptr<PageCommand> command = command_queue().Take();
  if (!command) return;
  WebBrowserControl* control = browser();
  switch (command->kind) {
    case kPageNavigate:
      if (control && !command->texts.empty()) control->Navigate(command->texts[0]);
      break;
    case kPageCallByText:
      if (control && !command->texts.empty()) {
        PageCall call = ParseCallText(command->texts[0]);
        control->CallPageFunction(call.name, call.arguments);
      }
      break;
    case kPageCallWithArguments:
      if (control && !command->texts.empty()) {
        std::vector<std::string> arguments(command->texts.begin() + 1, command->texts.end());
        control->CallPageFunction(command->texts[0], arguments);
      }
      break;
    case kPageOpenWindow:
      OpenWindowFromCommand(*command);
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------
// Buttons, keys, close

void CDialogIE::OnButton(int id) {
  WebBrowserControl* control = browser();
  if (!control) return;
  switch (id) {
    case kButtonBack:
      control->GoBack();
      break;
    case kButtonForward:
      control->GoForward();
      break;
    case kButtonStop:
      control->Stop();
      break;
    case kButtonRefresh:
      control->Refresh();
      break;
    case kButtonSearch:
      control->GoSearch();
      break;
    case kButtonHome:
      if (OnHomeButton() == 0) control->GoHome();
      break;
    case kButtonBrowse:
      url_ = frame_->GetAddressText();
      control->Navigate(url_);
      break;
    default:
      break;
  }
}

void CDialogIE::OnAddressEnter() {
  OnButton(kButtonBrowse);
}

void CDialogIE::OnCloseRequest() {
  if (calls_under_way_ > 0) {
    close_when_calls_end_ = true;
    if (frame_) frame_->Hide();
    return;
  }
  if (modal_ && !allow_close_) {
    if (frame_) frame_->Hide();
    return;
  }
  if (modal_ && frame_) frame_->EndModal();
  Unregister(this);
  if (!modal_) delete this;
}

bool CDialogIE::OnKeyDown(unsigned key, bool control_down) {
  return IsSwallowedKey(key, control_down);
}

// ---------------------------------------------------------------------------
// Page events

void CDialogIE::OnStatusTextChange(const std::string& text) {
  if (frame_) frame_->SetStatusText(text);
}

void CDialogIE::OnTitleChange(const std::string& title) {
  if (frame_) frame_->SetTitle(title);
}

void CDialogIE::OnDownloadBegin() {
  if (frame_) frame_->SetBusy(true);
}

void CDialogIE::OnNavigateComplete(const std::string&) {
  if (frame_) frame_->SetBusy(false);
}

void CDialogIE::OnDocumentComplete(const std::string& url) {
  if (frame_) frame_->SetAddressText(frame_->browser().LocationURL());
  OnPageLoaded(url);
}

void CDialogIE::OnDownloadComplete() {
  if (!first_load_) return;
  first_load_ = false;
  WebBrowserControl* control = browser();
  if (!js_inject_.empty() && control) control->InjectScript("tag", "head", js_inject_);
  if (!js_start_.empty()) PostScriptCall(js_start_);
}

bool CDialogIE::OnNewWindow(const std::string& url) {
  if (OnNewWindowRequest(url) != 0) return true;
  if (!allow_popups_) {
    if (WebBrowserControl* control = browser()) control->Navigate(url);
    return true;
  }
  // The views share one web context, so the pop-up shares this window's
  // cookies and login.
  auto* popup = new CDialogIE_NewWnd();
  bool configured = !pending_window_id_.empty() && pending_window_id_ != window_id_;
  if (configured) {
    popup->pending_window_id_ = pending_window_id_;
    popup->show_ = show_;
    popup->js_start_ = pending_js_start_;
    popup->js_inject_ = pending_js_inject_;
    popup->window_id_ = pending_window_id_;
  }
  // The control gives the address resolved against this window's page; the
  // command's own URL may be relative, and the pop-up has no page yet.
  std::string address = url;
  if (configured && url_.find("://") != std::string::npos) address = url_;
  popup->url_ = address;
  if (!popup->Create()) {
    delete popup;
    return true;
  }
  // Initialisation opened the page of a window with an ID.
  if (popup->window_id_.empty()) popup->NavigateTo(address);
  if (configured) {
    pending_window_id_.clear();
    pending_js_start_.clear();
    pending_js_inject_.clear();
    if (show_) {
      popup->frame()->Show();
    } else {
      popup->frame()->Hide();
    }
  } else {
    popup->frame()->Show();
  }
  return true;
}

void CDialogIE::OnScriptAlert(const std::string& text, const std::string& caption) {
  if (OnShowMessage(text, caption) != 0) return;
  std::string full_caption = "::" + caption;
  if (FilterMessage(full_caption, text) && !caption.empty() && !text.empty() && frame_) {
    frame_->MessageBox(text, full_caption, kMessageBoxOk);
  }
}

bool CDialogIE::OnScriptConfirm(const std::string& text, const std::string& caption) {
  // A window that takes the message over, or filters it, answers Cancel: the
  // answer that lets the page do nothing it was not told to.
  if (OnShowMessage(text, caption) != 0) return false;
  std::string full_caption = "::" + caption;
  if (!FilterMessage(full_caption, text) || !frame_) return false;
  return frame_->MessageBox(text, full_caption, kMessageBoxOkCancel) == kMessageBoxAnswerOk;
}

CImpIDispatch* CDialogIE::GetExternal() {
  return this;
}

// ---------------------------------------------------------------------------
// Pop-up windows

bool CDialogIE_NewWnd::OnInitDialog() {
  CDialogIE::OnInitDialog();
  // Only the page: the view fills the window and keeps its edges when the
  // user resizes it.
  frame()->SetControlsVisible(false);
  return true;
}

bool CDialogIE_NewWnd::UseOwnDownloadManager() {
  return false;
}
