#include "app/main_window.h"

#include <thread>

#include "app/tip_text.h"
#include "books/catalogue_sync.h"
#include "books/recovery.h"
#include "config/parameter_store.h"
#include "config/program_paths.h"
#include "platform/codepage.h"
#include "platform/drives.h"
#include "platform/ini_file.h"
#include "platform/ui_loop.h"
#include "util/number_text.h"
#include "util/path_names.h"

namespace {

// The "DTM" keys of the instance INI file, in the order they are read.
constexpr const char* kDtmKeys[] = {"url_getServerlist", "wwwhome",     "wwwhome_data",
                                    "url_getTomeRack",   "wwwhome_app", "uid"};

}  // namespace

std::string ResolveStartPage() {
  std::string value =
      platform::GetPrivateProfileString("system", "startpage", "", GetInstanceIniPath());
  if (!value.empty()) SetParameter("startpage", value);
  std::string page = GetParameter("startpage");
  if (page.empty()) return JoinPath(GetProgramDirectory(), "DTM/Index.html");
  bool is_url = page.find("://") != std::string::npos;
  bool is_absolute = page[0] == '/' || (page.size() > 2 && page[1] == ':');
  if (is_url || is_absolute) return page;
  return JoinPath(GetProgramDirectory(), page);
}

CDialog_TomeRack::CDialog_TomeRack()
    : instance_ini_path_(GetInstanceIniPath()), self_(std::make_shared<CDialog_TomeRack*>(this)) {}

CDialog_TomeRack::~CDialog_TomeRack() {
  *self_ = nullptr;
  prober_.Stop();
  // From here on no worker reaches this window; calls in progress end first.
  collection_.SetOwner(nullptr);
  notifications_.reset();
}

// ---------------------------------------------------------------------------
// Messages

void CDialog_TomeRack::PostWindowMessage(MainWindowMessage message, int wparam) {
  std::shared_ptr<CDialog_TomeRack*> self = self_;
  platform::PostToUiThread([self, message, wparam] {
    if (*self != nullptr) (*self)->HandleMessage(message, wparam);
  });
}

void CDialog_TomeRack::HandleMessage(MainWindowMessage message, int wparam) {
  switch (message) {
    case MainWindowMessage::kBookOpen:
      OnBookOpen();
      break;
    case MainWindowMessage::kShowTip:
      OnShowTip(wparam != 0);
      break;
    case MainWindowMessage::kShowMessageBox:
      OnShowMessageBox(wparam != 0);
      break;
  }
}

NotificationWindows* CDialog_TomeRack::Notifications() {
  if (!notifications_) {
    NotificationFactory* factory = GetNotificationFactory();
    if (factory != nullptr) notifications_ = factory->CreateNotificationWindows(handle());
  }
  return notifications_.get();
}

void CDialog_TomeRack::OnShowTip(bool show) {
  if (!show) {
    if (notifications_) notifications_->HideTip();
    return;
  }
  if (NotificationWindows* windows = Notifications()) windows->ShowTip(TipText());
}

void CDialog_TomeRack::OnShowMessageBox(bool show) {
  if (!show) {
    if (notifications_) notifications_->HideMessageBox();
    return;
  }
  CollectionMessage message = collection_.Message();
  if (NotificationWindows* windows = Notifications()) {
    windows->ShowMessageBox(message.text, message.auto_close_ms);
  }
}

void CDialog_TomeRack::OnBookOpen() {
  ReaderLaunchContext context{collection_, readers_, frame(), reader_user_};
  OpenBookInReader(context, selected_book_);
}

// ---------------------------------------------------------------------------
// Start

bool CDialog_TomeRack::OnInitDialog() {
  CDialogIE::OnInitDialog();
  // The page is the whole window: no tool row, address line or status row.
  frame()->SetControlsVisible(false);
  frame()->Maximize();

  ApplyDtmKeys();
  // Taken now, from the configuration alone: pages, which may set parameters
  // later, must not choose the key that upgrades are checked against.
  upgrade_.SetPublicKey(GetParameter(UpgradeChecker::kPublicKeyParameter));
  StartCollection();

  cdrom_mode_ = ParseLeadingInt(GetParameter("cdrom"));
  if (cdrom_mode_ == 0) {
    platform::MountPoint mount;
    if (platform::FindMountFor(instance_ini_path_, mount) &&
        mount.drive_type == platform::kDriveCdRom) {
      cdrom_mode_ = 1;
    }
  }
  if (cdrom_mode_ == 0) {
    std::string upgrade_url = GetParameter("UpgradeURL");
    if (!upgrade_url.empty()) upgrade_.Start(upgrade_url);
  }

  NavigateTo(ResolveStartPage());
  // The collection's SyncThread was started with the collection for the
  // user (StartForUser), which also asked it for a first pass.
  return true;
}

void CDialog_TomeRack::ApplyDtmKeys() {
  for (const char* key : kDtmKeys) {
    std::string value = platform::GetPrivateProfileString("DTM", key, "", instance_ini_path_);
    if (!value.empty()) SetParameter(key, value);
    std::string name = key;
    // The service addresses reach the collection with it (StartForUser
    // reads them completed with servers).
    if (name == "url_getServerlist") {
      RestartServerProbe();
    } else if (name == "uid") {
      uid_ = GetParameter("uid");
      if (uid_.empty()) uid_ = "0";
    }
  }
}

void CDialog_TomeRack::StartCollection() {
  collection_.SetUser(uid_, "", "", "");
  StartForUser(collection_, OwnerPosterForWindow(), uid_);
}

OwnerPoster CDialog_TomeRack::OwnerPosterForWindow() {
  std::shared_ptr<CDialog_TomeRack*> self = self_;
  return [self](OwnerRequest request) {
    // Runs on worker threads: only a post, never the window itself.
    platform::PostToUiThread([self, request] {
      CDialog_TomeRack* window = *self;
      if (window == nullptr) return;
      switch (request) {
        case OwnerRequest::kShowMessageBox:
          window->HandleMessage(MainWindowMessage::kShowMessageBox, 1);
          break;
        case OwnerRequest::kShowTip:
          window->HandleMessage(MainWindowMessage::kShowTip, 1);
          break;
        case OwnerRequest::kHideTip:
          window->HandleMessage(MainWindowMessage::kShowTip, 0);
          break;
      }
    });
  };
}

// ---------------------------------------------------------------------------
// Service addresses, user, probe, readers

void CDialog_TomeRack::RefreshServiceAddresses() {
  RefreshCollectionAddresses(collection_);
}

void CDialog_TomeRack::RefreshLoginState() {
  std::string uid = GetVariable("uid");
  if (uid.size() > 1) {
    reader_user_ = uid;
    TakeUserFromPage(uid);
  }
  collection_.SetUser(uid_, sessionid_, username_, password_);
  if (cdrom_mode_ == 0) collection_.RequestSync();
}

void CDialog_TomeRack::TakeUserFromPage(const std::string& uid) {
  uid_ = uid;
  sessionid_ = GetVariable("sessionid");
  username_ = GetVariable("username");
  password_ = GetVariable("password");
}

void CDialog_TomeRack::RestartServerProbe() {
  prober_.Start(GetParameter("url_getServerlist"));
}

void CDialog_TomeRack::StopBookReader(const std::string& bsid) {
  std::string gid;
  if (!collection_.catalogue().GidForBsid(bsid, gid)) return;
  RecordPtr record = collection_.FindRecord(gid);
  if (!record) return;
  std::string reader = ReaderPathOf(*record);
  if (!reader.empty()) readers_.Terminate(reader);
}

void CDialog_TomeRack::TerminateAllReaders() {
  readers_.TerminateAll();
}

// ---------------------------------------------------------------------------
// window.external

bool CDialog_TomeRack::GetMethodId(const std::string& name, int& id) {
  if (CDialogIE::GetMethodId(name, id)) return true;
  if (platform::GbkEqualsNoCase(name, "LaunchEBook")) {
    id = kMethodLaunchEBook;
    return true;
  }
  return false;
}

void CDialog_TomeRack::InvokeMethod(int id, int flags, const std::vector<ScriptValue>& arguments,
                                    ScriptValue& result) {
  std::string server;
  if (!SelectServer("app", server)) RestartServerProbe();
  if (id == kMethodLaunchEBook) {
    // Named for the page, done by "TomerackSelection": nothing to launch.
    result = (flags & kDispatchMethod) ? ScriptValue::Bool(false) : ScriptValue::Null();
    return;
  }
  CDialogIE::InvokeMethod(id, flags, arguments, result);
}

// ---------------------------------------------------------------------------
// Exit

void CDialog_TomeRack::OnCloseRequest() {
  // A second close while the sequence waits changes nothing.
  if (exiting_) return;
  exiting_ = true;
  RunExitSequence();
  CDialogIE::OnCloseRequest();
}

void CDialog_TomeRack::StopBookWork() {
  // Downloads cut short by the exit are resumed at the next start.
  for (const RecordPtr& record : collection_.AllRecords()) record->SuspendDownloadWorker();
  collection_.WaitForWorkers();
}

void CDialog_TomeRack::RunExitSequence() {
  ShowTopTip(kExitTip);
  TerminateAllReaders();
  SetApplicationExiting(true);
  // Stopping signals the second event, pauses 100 ms, signals the first and
  // waits for the thread.
  platform::RunKeepingUiAlive([this] { collection_.StopSyncThread(); });
  UpdateTopTip(std::string(kExitTip) + ".");
  // Downloads and installations end now, while the tip is up, rather than
  // in the destructor after it has gone.
  platform::RunKeepingUiAlive([this] { StopBookWork(); });
  UpdateTopTip(std::string(kExitTip) + "..");
  allow_close_ = true;
  platform::RunKeepingUiAlive([this] { upgrade_.Stop(); });
  UpdateTopTip(std::string(kExitTip) + "...");
  platform::RunKeepingUiAlive([this] { prober_.Stop(); });
  UpdateTopTip(std::string(kExitTip) + "....");
  HideTopTip();
}
