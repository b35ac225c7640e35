#include "books/book_repair.h"

#include "books/book_paths.h"
#include "books/book_results.h"
#include "platform/file_system.h"
#include "util/file_io.h"

namespace {

BookOperationResult Refused(const std::string& message) {
  return BookOperationResult{kBookRefused, {}, false, message};
}

}  // namespace

bool PrepareRepair(BookRecord& record, std::string& message) {
  message.clear();
  bool target_changed = false;
  bool allowed = record.Update([&](BookFields& f) {
    if (!(f.bookStatus & kBookInstalled) || f.bookPackageID.empty() || f.bookMD5.empty()) {
      message = kRepairNotInstalledMessage;
      return false;
    }
    if (f.bookStatus & kBookDownloading) {
      message = kAlreadyDownloadingMessage;
      return false;
    }
    if (f.downloading_bookPackageID != f.bookPackageID || f.downloading_bookMD5 != f.bookMD5) {
      target_changed = true;
      f.downloading_bookPackageID = f.bookPackageID;
      f.downloading_bookMD5 = f.bookMD5;
    }
    // The size the installed package had; the transfer corrects it from
    // the server's answer.
    f.downloading_bookSize = f.bookSize;
    return true;
  });
  if (!allowed) return false;
  std::string package = PackagePathOf(record.Fields());
  // A partial package of another edition must not be resumed; one of this
  // package (a repair cut short) is. The count after an earlier complete
  // download would otherwise pass for a package still on disk.
  if (target_changed) platform::RemoveFile(package);
  uint64_t present = 0;
  if (!GetFileSizeOf(package, present)) present = 0;
  record.Update(
      [&](BookFields& f) { f.downloading_downloadedSize = static_cast<uint32_t>(present); });
  if (SaveRecord(record) != kBookOk) {
    message = kRecordSaveFailedMessage;
    return false;
  }
  return true;
}

BookOperationResult RepairBook(BookCollection& collection, const std::string& bsid) {
  std::string gid;
  if (!bsid.empty()) collection.catalogue().GidForBsid(bsid, gid);
  BookOperationResult refusal;
  RecordPtr record = RecordForOperation(collection, gid, refusal);
  if (!record) return refusal;
  if (record->Status() & kBookDownloaded) return Refused(kInstallingUpgradeMessage);
  // An upgrade already on its way would install a newer package; the user
  // asked for the installed one, so it is stopped first, as a download is.
  StopDownload(*record);
  std::string message;
  if (!PrepareRepair(*record, message)) return Refused(message);
  StartDownload(*record);
  return {};
}
