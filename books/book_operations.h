// What the page asks to be done to a book ("bookOperate"): the dispatcher,
// its guards and their messages, and the workers that carry the long
// operations. Workers tell the user only through the collection's message
// and the tip, posted to the owner window; they never wait for it.
#pragma once

#include <cstdint>
#include <string>

#include "books/book_collection.h"

inline constexpr const char* kNoRecordOnlineMessage = "课本配置文件有错，正在下载，请稍后再试....";
inline constexpr const char* kNoRecordOfflineMessage = "课本配置文件有错，请登录后再试....";
inline constexpr const char* kUninstallingMessage = "正在卸载课本，请稍后再试...";
inline constexpr const char* kInstallingUpgradeMessage = "正在安装，稍候再升级...";
inline constexpr const char* kInstallingDownloadMessage = "正在安装，稍候再下载...";
inline constexpr const char* kNoLatestPackageMessage = "错误：lastest bookPackageID为空！";
inline constexpr const char* kAlreadyDownloadingMessage = "正在下载中，不能重复下载！";
inline constexpr const char* kAlreadyNewestMessage = "已是最新，无需升级，如需安装，请先卸载！";
inline constexpr const char* kRecordSaveFailedMessage = "系统错误，inf保存失败，请检查硬盘！";
inline constexpr const char* kNoUpdateMessage = "数据包无更新，如需重装，请先卸载.";
inline constexpr const char* kUninstallTip = "正在卸载课本，请稍候...";

struct BookOperationResult {
  int code = 0;
  std::string reply;    // the status array of "bookStatus"
  bool open = false;    // "open": the owner opens the book
  std::string message;  // why an operation was refused
};

// The record of the book gid for an operation, or the refusal when there is
// none (the catalogue's pass has not made it yet, or the user is offline:
// a sync is requested when online) or it is being uninstalled.
RecordPtr RecordForOperation(BookCollection& collection, const std::string& gid,
                             BookOperationResult& refusal);

// Runs the operation (name compared without case) on the book the
// catalogue maps bsid to. 0; kBookRefused with a message; for
// "bookStatus" the status array's result.
BookOperationResult BookOperate(BookCollection& collection, const std::string& bsid,
                                const std::string& operation);

// Under the record's lock: true when a download may start, the download
// target reset to the newest package if it changed (and the record saved);
// false with the reason (possibly empty) otherwise.
bool CheckDownloadAllowed(BookRecord& record, std::string& message);

// True with the status when the catalogue maps bsid to a book with a record.
bool BookStatusByBsid(const BookCollection& collection, const std::string& bsid, uint32_t& status);

// Stops a running worker and starts a new DownloadWorker on the record.
void StartDownload(BookRecord& record);
// Stops the record's worker, if any, and waits for it.
void StopDownload(BookRecord& record);

// The body of a book's download thread: transfer, verification and
// installation; a failure's message goes to the owner window.
void DownloadWorker(BookRecord& record);
// Stops the book's worker, saves the record with nothing installed, then
// removes the package and the install directory.
void UninstallWorker(BookCollection& collection, const RecordPtr& record);
