// books --program-dir DIR --uid UID start | sync | status | download BSID |
//       upgrade BSID | uninstall BSID | verify BSID|--all | repair BSID
//
// The client's book work without its window, on the client's own program
// directory: what administrators use to preload classroom machines. Tips
// and messages the window would show go to stderr, progress to stdout.
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/config_file.h"
#include "app/startup.h"
#include "app/tip_text.h"
#include "books/book_collection.h"
#include "books/book_data_lock.h"
#include "books/book_operations.h"
#include "books/book_paths.h"
#include "books/catalogue_sync.h"
#include "books/recovery.h"
#include "books/status_report.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "tools/tool_books_verify.h"
#include "tools/tool_common.h"
#include "util/directory_tree.h"
#include "util/file_io.h"
#include "util/path_names.h"

namespace {

constexpr const char kUsage[] =
    "usage: tomerack-tool books --program-dir DIR --uid UID start | sync | status |\n"
    "       download BSID | upgrade BSID | uninstall BSID | verify BSID|--all | repair BSID";

constexpr auto kProgressInterval = std::chrono::milliseconds(50);

std::string Utf8(const std::string& gbk) {
  return platform::GbkToUtf8(gbk);
}

// The window's message box and tip, as lines on stderr. Called on worker
// threads; never waits for anything.
OwnerPoster ConsoleOwner(const BookCollection& collection) {
  return [&collection](OwnerRequest request) {
    switch (request) {
      case OwnerRequest::kShowMessageBox:
        std::fprintf(stderr, "tomerack-tool: message: %s\n",
                     Utf8(collection.Message().text).c_str());
        break;
      case OwnerRequest::kShowTip:
        std::fprintf(stderr, "tomerack-tool: tip: %s\n", Utf8(TipText()).c_str());
        break;
      case OwnerRequest::kHideTip:
        break;
    }
  };
}

// bookIDs of the record files that show an interrupted operation.
std::vector<std::string> InterruptedBooks() {
  std::vector<std::string> books;
  std::string directory = JoinPath(GetProgramDirectory(), "data/bookinf");
  NameList names;
  ListDirectoryEntries(names, directory, "*.inf", false, kIncludeFiles);
  for (const std::string& name : names) {
    BookRecord record;
    if (LoadRecordFile(record, JoinPath(directory, name)) != 0) continue;
    if (record.Status() & (kBookDownloading | kBookDownloaded)) books.push_back(record.BookId());
  }
  return books;
}

bool IsInstalled(const BookRecord& record) {
  uint32_t status = record.Status();
  return (status & kBookInstalled) && !(status & (kBookDownloading | kBookDownloaded));
}

std::string Describe(const BookRecord& record) {
  BookFields f = record.Fields();
  if (IsInstalled(record)) return "installed " + Utf8(f.bookPackageID) + " " + f.bookMD5;
  std::string message = record.Message();
  return "not installed (status " + std::to_string(f.bookStatus) + ")" +
         (message.empty() ? std::string() : ": " + Utf8(message));
}

// Prints the byte counts while the record's download runs, then waits for
// every thread of the collection.
void FollowDownload(BookCollection& collection, BookRecord& record) {
  std::string last;
  while (record.IsDownloadWorkerRunning()) {
    BookFields f = record.Fields();
    std::string line = Utf8(f.bookID) + ": " + std::to_string(RecordPercentage(f)) + "% (" +
                       std::to_string(f.downloading_downloadedSize) + "/" +
                       std::to_string(f.downloading_bookSize) + " bytes)\n";
    if (line != last) WriteStdout(line);
    last = line;
    std::this_thread::sleep_for(kProgressInterval);
  }
  collection.WaitForAllWork();
}

int Start(BookCollection& collection, const std::string& uid) {
  std::vector<std::string> interrupted = InterruptedBooks();
  StartForUser(collection, ConsoleOwner(collection), uid);
  // Synchronising is the sync command's work.
  collection.StopSyncThread();
  collection.WaitForAllWork();
  bool all_installed = true;
  for (const std::string& book_id : interrupted) {
    RecordPtr record = collection.FindRecord(book_id);
    if (!record) continue;
    all_installed = all_installed && IsInstalled(*record);
    WriteStdout("resumed " + Utf8(book_id) + ": " + Describe(*record) + "\n");
  }
  if (interrupted.empty()) WriteStdout("nothing to resume\n");
  return all_installed ? kExitOk : kExitFailure;
}

int Sync(BookCollection& collection, const std::string& uid) {
  LoadAllRecords(collection);
  LoadAllPackageLists(collection);
  LoadCachedCatalogue(collection, uid);
  int result = SyncCatalogue(collection);
  WriteStdout("sync: " + std::to_string(result) + " (" +
              std::to_string(collection.catalogue().RowCount()) + " books in the catalogue)\n");
  return result == 1 ? kExitOk : Fail("the catalogue could not be fetched");
}

int Status(BookCollection& collection, const std::string& uid) {
  LoadAllRecords(collection);
  LoadCachedCatalogue(collection, uid);
  return WriteStdout(Utf8(BuildStatusReport(collection)) + "\n") ? kExitOk : kExitFailure;
}

int Operate(BookCollection& collection, const std::string& uid, const std::string& operation,
            const std::string& bsid) {
  StartForUser(collection, ConsoleOwner(collection), uid);
  collection.StopSyncThread();
  // Work a killed run left behind is finished first, as the client would.
  collection.WaitForAllWork();

  BookOperationResult result = BookOperate(collection, bsid, operation);
  if (result.code != 0) return Fail(Utf8(result.message));
  std::string gid;
  collection.catalogue().GidForBsid(bsid, gid);
  RecordPtr record = collection.FindRecord(gid);
  if (!record) return Fail("no record for " + Utf8(bsid));
  FollowDownload(collection, *record);

  if (operation == "uninstall") {
    bool gone = record->Status() == 0 && !FileExists(InstallDirectoryOf(*record));
    if (!gone) return Fail(Utf8(gid) + " could not be removed completely");
    WriteStdout("uninstalled " + Utf8(gid) + "\n");
    return kExitOk;
  }
  if (!IsInstalled(*record)) return Fail(Utf8(gid) + " is " + Describe(*record));
  // A failed upgrade keeps the edition installed before: still a failure.
  BookFields f = record->Fields();
  if (f.bookPackageID != f.downloading_bookPackageID || f.bookMD5 != f.downloading_bookMD5) {
    std::string message = record->Message();
    return Fail(Utf8(gid) + " was not " + operation + "d" +
                (message.empty() ? std::string() : ": " + Utf8(message)) + "; it stays " +
                Describe(*record));
  }
  WriteStdout(Utf8(gid) + " " + Describe(*record) + "\n");
  return kExitOk;
}

}  // namespace

int RunBooks(Arguments args) {
  std::string directory, uid_utf8;
  TakeOption(args, "--program-dir", directory);
  TakeOption(args, "--uid", uid_utf8);
  if (uid_utf8.empty() || args.empty()) return Fail(kUsage, kExitUsage);
  const std::string command = args[0];
  bool needs_book = command == "download" || command == "upgrade" || command == "uninstall" ||
                    command == "verify" || command == "repair";
  bool plain = command == "start" || command == "sync" || command == "status";
  if (!(needs_book ? args.size() == 2 : plain && args.size() == 1)) return Fail(kUsage, kExitUsage);
  if (!platform::IsRepresentableInGbk(uid_utf8))
    return Fail("the uid cannot be held in code page 936");
  if (!IsSafeUid(platform::Utf8ToGbk(uid_utf8)))
    return Fail("the uid cannot name a folder (empty, \".\", \"..\", or with \"/\" or \"\\\")");
  if (!UseProgramDirectory(directory)) return kExitFailure;
  // Never beside the client on the same books: it writes them too.
  BookDataLock lock;
  switch (lock.Acquire()) {
    case BookDataLock::Result::kAcquired:
      break;
    case BookDataLock::Result::kAlreadyHeld:
      return Fail("the client (or another books command) is running on " +
                  Utf8(GetProgramDirectory()) + "; close it first");
    case BookDataLock::Result::kFailed:
      return Fail("cannot lock " + Utf8(lock.path()) + ": " +
                  Utf8(platform::SystemErrorText(platform::LastErrorCode())));
  }
  if (LoadStartupConfiguration() < 0) {
    std::fprintf(stderr, "tomerack-tool: no usable %s; going on without it\n",
                 Utf8(GetConfigFilePath()).c_str());
  }
  ApplyInstanceIni();

  std::string uid = platform::Utf8ToGbk(uid_utf8);
  int status = kExitOk;
  {
    BookCollection collection;
    collection.SetUser(uid, "", "", "");
    if (command == "start") status = Start(collection, uid);
    if (command == "sync") status = Sync(collection, uid);
    if (command == "status") status = Status(collection, uid);
    std::string book = needs_book ? platform::Utf8ToGbk(args[1]) : std::string();
    if (command == "verify") {
      status = VerifyBooks(collection, uid, book);
    } else if (command == "repair") {
      status = RepairBookFromTool(collection, uid, book, ConsoleOwner(collection),
                                  [&collection](BookRecord& r) { FollowDownload(collection, r); });
    } else if (needs_book) {
      status = Operate(collection, uid, command, book);
    }
  }  // every thread of the collection has ended here
  ReleaseStartupConfiguration();
  return status;
}
