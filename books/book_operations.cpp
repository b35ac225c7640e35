#include "books/book_operations.h"

#include <strings.h>

#include "app/tip_text.h"
#include "books/book_paths.h"
#include "books/book_results.h"
#include "books/install_swap.h"
#include "books/package_download.h"
#include "books/status_report.h"
#include "platform/file_system.h"
#include "util/directory_tree.h"

namespace {

bool SameName(const std::string& a, const char* b) {
  return strcasecmp(a.c_str(), b) == 0;
}

BookOperationResult Refused(const std::string& message) {
  return BookOperationResult{kBookRefused, {}, false, message};
}

}  // namespace

RecordPtr RecordForOperation(BookCollection& collection, const std::string& gid,
                             BookOperationResult& refusal) {
  RecordPtr record = collection.FindRecord(gid);
  if (!record) {
    bool online = collection.online.load();
    if (online) collection.RequestSync();
    refusal = Refused(online ? kNoRecordOnlineMessage : kNoRecordOfflineMessage);
    return nullptr;
  }
  if (record->uninstalling.load()) {
    refusal = Refused(kUninstallingMessage);
    return nullptr;
  }
  return record;
}

BookOperationResult BookOperate(BookCollection& collection, const std::string& bsid,
                                const std::string& operation) {
  std::string gid;
  if (!bsid.empty()) collection.catalogue().GidForBsid(bsid, gid);

  if (SameName(operation, "bookStatus")) {
    BookOperationResult result;
    result.code = BuildBookStatusArray(collection, bsid, operation, result.reply);
    return result;
  }

  BookOperationResult refusal;
  RecordPtr record = RecordForOperation(collection, gid, refusal);
  if (!record) return refusal;

  if (SameName(operation, "stopDownload")) {
    StopDownload(*record);
    return {};
  }
  if (SameName(operation, "open")) {
    BookOperationResult result;
    result.open = true;
    return result;
  }
  if (SameName(operation, "download") || SameName(operation, "upgrade")) {
    uint32_t status = record->Status();
    if (status & kBookDownloaded) {
      return Refused((status & kBookInstalled) ? kInstallingUpgradeMessage
                                               : kInstallingDownloadMessage);
    }
    StopDownload(*record);
    std::string message;
    if (!CheckDownloadAllowed(*record, message)) {
      return Refused(message.empty() ? kNoUpdateMessage : message);
    }
    StartDownload(*record);
    return {};
  }
  if (SameName(operation, "uninstall")) {
    record->uninstalling = true;
    BookFields fields = record->Fields();
    // The record file stays until the worker replaces it with the emptied
    // record: deleted here, a kill before that save would leave the book's
    // files with no record to finish the uninstall from.
    platform::RemoveFile(PackageListPath(fields.bookID));
    SetTipText(kUninstallTip);
    collection.PostToOwner(OwnerRequest::kShowTip);
    collection.RunWorker([&collection, record] { UninstallWorker(collection, record); });
    return {};
  }
  return {};
}

bool CheckDownloadAllowed(BookRecord& record, std::string& message) {
  message.clear();
  bool target_changed = false;
  bool allowed = record.Update([&](BookFields& f) {
    if (f.last_bookPackageID.empty()) {
      message = kNoLatestPackageMessage;
      return false;
    }
    if (f.bookStatus & kBookDownloading) {
      message = kAlreadyDownloadingMessage;
      return false;
    }
    if ((f.bookStatus & kBookInstalled) && f.bookPackageID == f.last_bookPackageID &&
        f.bookMD5 == f.last_bookMD5) {
      message = kAlreadyNewestMessage;
      return false;
    }
    if (f.downloading_bookPackageID != f.last_bookPackageID ||
        f.downloading_bookMD5 != f.last_bookMD5) {
      target_changed = true;
      f.downloading_downloadedSize = 0;
      f.downloading_bookPackageID = f.last_bookPackageID;
      f.downloading_bookMD5 = f.last_bookMD5;
    }
    return true;
  });
  if (!allowed || !target_changed) return allowed;
  // A partial package of another edition must not be resumed.
  platform::RemoveFile(PackagePathOf(record.Fields()));
  if (SaveRecord(record) != kBookOk) {
    message = kRecordSaveFailedMessage;
    return false;
  }
  return true;
}

bool BookStatusByBsid(const BookCollection& collection, const std::string& bsid, uint32_t& status) {
  std::string gid;
  if (!collection.catalogue().GidForBsid(bsid, gid)) return false;
  RecordPtr record = collection.FindRecord(gid);
  if (!record) return false;
  status = record->Status();
  return true;
}

void StartDownload(BookRecord& record) {
  record.StartDownloadWorker(DownloadWorker);
}

void StopDownload(BookRecord& record) {
  record.StopDownloadWorker();
}

void DownloadWorker(BookRecord& record) {
  record.SetStatusBits(kBookDownloading);
  int result = DownloadAndInstall(record);
  if (result != kBookOk) {
    std::string message = record.Message();
    BookCollection* collection = record.collection();
    if (!message.empty() && collection) collection->ShowCollectionMessage(message, 0);
  }
  if (result != kHttpCancelled || !record.WorkSuspended()) record.ClearStatusBits(kBookDownloading);
  SaveRecord(record);
}

void UninstallWorker(BookCollection& collection, const RecordPtr& record) {
  // Also waits for an installation or a recovery the worker has begun: the
  // directory goes only after it, and its last save is behind us.
  if (record->HasDownloadWorker()) StopDownload(*record);
  // The package is no part of the installed book and goes first: killed
  // after the save below, nothing but the install directory is left, which
  // the next start removes for a book saved as not installed.
  std::string package = PackagePathOf(record->Fields());
  platform::RemoveFile(package);
  record->Update([](BookFields& f) {
    f.bookStatus = 0;
    f.bookSize = 0;
    f.downloading_downloadedSize = 0;
  });
  // On disk the book is gone before its first file is: killed while the
  // files go, the next start finds nothing installed over half a book.
  BookFields fields = record->Fields();
  if (SaveRecord(*record) != kBookOk) platform::RemoveFile(RecordPath(fields.bookID));
  collection.BeforeUninstallRemoval(*record);
  RemoveInstallDirectories(InstallDirPath(package));
  record->uninstalling = false;
  collection.PostToOwner(OwnerRequest::kHideTip);
}
