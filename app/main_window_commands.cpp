// The page's commands to the main window: "Bounce", "Report" (login, the
// menus, book selection) and "Request" (password mixing, catalogue, status
// rows, book operations).
#include <cstdio>

#include "app/config_file.h"
#include "app/main_window.h"
#include "books/book_operations.h"
#include "books/book_results.h"
#include "books/catalogue_sync.h"
#include "books/recovery.h"
#include "books/status_report.h"
#include "config/parameter_store.h"
#include "platform/codepage.h"
#include "platform/ui_loop.h"
#include "util/identifiers.h"

namespace {

constexpr const char kPasswordReplyFormat[] =
    "{\r\n\"Function\": \"Request\",\r\n\"UID\": \"\",\r\n\"SessionID\": \"\",\r\n\"ID\": "
    "\"\",\r\n\"Status\": \"1\",\r\n\"Return\": \"0\",\r\n\"Message\":\"\",\"Para\":{\"Rows\":"
    "\"1\",\"Columns\":\"1\",\"ColumnName\":[\"PasswordMD\"],\"Data\":[\"%s\"]}}";
constexpr const char kNoCatalogueFormat[] =
    "{\r\n\"Function\": \"TomerackRequest\",\r\n\"SessionID\": \"\",\r\n\"ID\": \"\",\r\n"
    "\"Status\": \"1\",\r\n\"Return\": \"%d\",\r\n\"Message\":\"%s\",\"Para\":{}\r\n}";

constexpr const char kInstallingNotice[] = "\r\n\r\n正在安装，请稍候！";
constexpr const char kUpgradingNotice[] = "\r\n\r\n正在升级，请稍候！";
constexpr const char kDownloadingNotice[] = "\r\n\r\n正在下载，请稍候！";
constexpr const char kDownloadStartedNotice[] = "\r\n\r\n已经启动后台下载...";
constexpr uint32_t kDownloadStartedCloseMs = 2000;
constexpr const char kUninstallWord[] = "卸载";

// A catalogue reply shorter than this counts as none.
constexpr size_t kShortestCatalogue = 10;

bool Is(const std::string& text, const char* name) {
  return platform::GbkEqualsNoCase(text, name);
}

// The member's string value; false when it is absent. A member that is not
// a string reads as an empty text.
bool MemberText(const cJSON* object, const char* name, std::string& value) {
  value.clear();
  const cJSON* item = cJSON_IsObject(object) ? cJSON_GetObjectItem(object, name) : nullptr;
  if (item == nullptr) return false;
  if (cJSON_IsString(item) && item->valuestring != nullptr) value = item->valuestring;
  return true;
}

std::string PasswordReply(const std::string& mixed) {
  int size = std::snprintf(nullptr, 0, kPasswordReplyFormat, mixed.c_str());
  std::string out(static_cast<size_t>(size), '\0');
  std::snprintf(out.data(), out.size() + 1, kPasswordReplyFormat, mixed.c_str());
  return out;
}

std::string NoCatalogueReply() {
  int size = std::snprintf(nullptr, 0, kNoCatalogueFormat, kNoCatalogueCode, kNoCatalogueMessage);
  std::string out(static_cast<size_t>(size), '\0');
  std::snprintf(out.data(), out.size() + 1, kNoCatalogueFormat, kNoCatalogueCode,
                kNoCatalogueMessage);
  return out;
}

// BookOperate can wait for a worker (one that verifies or unpacks stops at
// its next check): the UI loop turns meanwhile.
BookOperationResult OperateKeepingUiAlive(BookCollection& collection, const std::string& bsid,
                                          const std::string& operation) {
  BookOperationResult result;
  platform::RunKeepingUiAlive(
      [&] { result = BookOperate(collection, bsid, operation); });
  return result;
}

}  // namespace

bool CDialog_TomeRack::OnCommand(std::string& reply, const std::string&, const cJSON* command,
                                 const std::vector<std::string>& header, int& code,
                                 std::string& message) {
  reply.clear();
  if (header.empty()) return false;
  const std::string& function = header[0];
  if (Is(function, "Bounce")) {
    // The page gets its own call text back, on a later tick.
    PostScriptCall(header.size() > 1 ? header[1] : "");
    code = kCommandOk;
    return true;
  }
  if (!Is(function, "Report") && !Is(function, "Request")) return false;

  const cJSON* para = cJSON_GetObjectItem(command, "Para");
  std::string type;
  if (!MemberText(para, "Type", type)) {
    code = kCommandBadJson;
    message = kMissingTypeMessage;
    return true;
  }
  code = Is(function, "Report") ? Report(type, para, message) : Request(type, para, reply, message);
  return true;
}

void CDialog_TomeRack::RequestSyncIfOnline() {
  if (logged_in_ != 0 && cdrom_mode_ == 0) collection_.RequestSync();
}

int CDialog_TomeRack::Report(const std::string& type, const cJSON* para, std::string& message) {
  if (Is(type, "Login")) {
    Login();
  } else if (Is(type, "MenuTomerack")) {
    RestartServerProbe();
    RequestSyncIfOnline();
  } else if (Is(type, "MenuBuy")) {
    RestartServerProbe();
  } else if (Is(type, "MenuOrder")) {
    RequestSyncIfOnline();
  } else if (Is(type, "MenuLogout")) {
    logged_in_ = 0;
    collection_.online = false;
  } else if (Is(type, "TomerackSelection")) {
    std::string bsid;
    if (!MemberText(para, "Data", bsid)) {
      message = kMissingDataMessage;
      return kCommandBadJson;
    }
    return SelectBook(bsid, message);
  }
  // "MenuExchange", "MenuPersonal", "Buy" and any other report: nothing.
  return kCommandOk;
}

int CDialog_TomeRack::Request(const std::string& type, const cJSON* para, std::string& reply,
                              std::string& message) {
  if (Is(type, "PasswordMD")) {
    std::string text;
    if (!MemberText(para, "Data", text)) {
      message = kMissingDataMessage;
      return kCommandBadJson;
    }
    std::string mixed;
    MixTextWithKey(mixed, text, NewIdentifierText());
    reply = PasswordReply(mixed);
    return kCommandOk;
  }
  if (Is(type, "Tomerack")) {
    reply = CatalogueReply(para);
    return kCommandOk;
  }
  if (Is(type, "BookDownload")) {
    reply = BuildStatusReport(collection_);
    return kCommandOk;
  }
  if (Is(type, "bookOperate")) return OperateBook(para, reply, message);
  return kCommandOk;
}

void CDialog_TomeRack::Login() {
  logged_in_ = 1;
  collection_.online = true;
  std::string uid = GetVariable("uid");
  bool other_user = !uid.empty() && uid != uid_;
  ShowTopTip(kLoginTip);
  // Clearing stops the book workers and stopping the sync thread waits for
  // its pass; both with the UI loop turning.
  platform::RunKeepingUiAlive([this, other_user, &uid] {
    if (other_user) {
      // A pass under way for the previous user stores nothing from now on.
      collection_.SetUser(uid, GetVariable("sessionid"), GetVariable("username"),
                          GetVariable("password"));
      collection_.StopSyncThread();
    }
    collection_.catalogue().Clear();
    collection_.ClearPackageLists();
    collection_.ClearRecords();
  });
  RefreshLoginState();
  OwnerPoster poster = OwnerPosterForWindow();
  platform::RunKeepingUiAlive([this, &poster] { StartForUser(collection_, poster, uid_); });
  collection_.RequestSync();
  if (uid_.size() > 1) SetConfigPara(GetConfigFilePath(), "uid", uid_);
  std::string upgrade_url = GetParameter("_CONFIG_EF_UpgradeURL");
  // Starting stops a check under way first, which may be in a request.
  if (!upgrade_url.empty()) {
    platform::RunKeepingUiAlive([this, &upgrade_url] { upgrade_.Start(upgrade_url); });
  }
  HideTopTip();
}

int CDialog_TomeRack::SelectBook(const std::string& bsid, std::string& message) {
  selected_book_ = bsid;
  uint32_t status = 0;
  if (!BookStatusByBsid(collection_, bsid, status)) {
    PostWindowMessage(MainWindowMessage::kBookOpen);
    return kCommandOk;
  }
  bool downloading = (status & kBookDownloading) != 0;
  bool installed = (status & kBookInstalled) != 0;
  if (status & kBookDownloaded) {
    collection_.ShowCollectionMessage(kInstallingNotice, 0);
  } else if (installed && downloading) {
    collection_.ShowCollectionMessage(kUpgradingNotice, 0);
  } else if (installed) {
    PostWindowMessage(MainWindowMessage::kBookOpen);
  } else if (downloading) {
    collection_.ShowCollectionMessage(kDownloadingNotice, 0);
  } else {
    StopBookReader(selected_book_);
    collection_.ShowCollectionMessage(kDownloadStartedNotice, kDownloadStartedCloseMs);
    BookOperationResult download = OperateKeepingUiAlive(collection_, bsid, "download");
    message = download.message;
    if (!message.empty() && message.find(kUninstallWord) != std::string::npos) {
      message = OperateKeepingUiAlive(collection_, bsid, "uninstall").message;
    }
    if (!message.empty()) collection_.ShowCollectionMessage(message, 0);
    return download.code;
  }
  return kCommandOk;
}

std::string CDialog_TomeRack::CatalogueReply(const cJSON* para) {
  std::string data;
  MemberText(para, "Data", data);
  std::string uid = GetVariable("uid");
  if (Is(data, "refresh")) {
    if (uid.size() > 1) TakeUserFromPage(uid);
    collection_.SetUser(uid_, sessionid_, username_, password_);
    if (!uid_.empty()) {
      platform::RunKeepingUiAlive([this] { SyncCatalogue(collection_); });
    }
  } else {
    RefreshLoginState();
  }
  std::string reply;
  if (uid_.size() > 1) {
    if (GetCatalogueText(collection_, uid_, reply) != kBookOk) reply.clear();
  } else if (uid.size() > 1) {
    if (GetCatalogueText(collection_, uid, reply) != kBookOk) reply.clear();
  }
  if (reply.size() < kShortestCatalogue) {
    RequestSyncIfOnline();
    reply = NoCatalogueReply();
  }
  return reply;
}

int CDialog_TomeRack::OperateBook(const cJSON* para, std::string& reply, std::string& message) {
  const cJSON* data = cJSON_GetObjectItem(para, "Data");
  if (data == nullptr) return kCommandOk;
  std::string operation, bsid;
  // Refused without side effects: nothing is stopped, nothing started.
  if (!MemberText(data, "Type", operation)) {
    message = kMissingTypeMessage;
    return kCommandBadJson;
  }
  if (!MemberText(data, "bsid", bsid)) {
    message = kMissingBsidMessage;
    return kCommandBadJson;
  }
  if (Is(operation, "upgrade") || Is(operation, "download") || Is(operation, "uninstall")) {
    StopBookReader(bsid);
  }
  BookOperationResult result = OperateKeepingUiAlive(collection_, bsid, operation);
  message = result.message;
  if (result.code != kBookOk) {
    if (!message.empty()) {
      collection_.ShowCollectionMessage(message, 0);
    } else {
      result.reply.clear();
      message = kOperationFailedMessage;
    }
  } else if (result.open) {
    selected_book_ = bsid;
    PostWindowMessage(MainWindowMessage::kBookOpen);
  }
  reply = result.reply;
  return result.code;
}
