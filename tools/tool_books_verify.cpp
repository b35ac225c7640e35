#include "tools/tool_books_verify.h"

#include <algorithm>

#include "books/book_repair.h"
#include "books/catalogue_sync.h"
#include "books/installed_book_check.h"
#include "books/recovery.h"
#include "platform/codepage.h"
#include "tools/tool_common.h"

namespace {

std::string Shown(const std::string& gbk) {
  return platform::GbkToUtf8(PrintableName(gbk));
}

bool IsInstalled(const BookRecord& record) {
  uint32_t status = record.Status();
  return (status & kBookInstalled) && !(status & (kBookDownloading | kBookDownloaded));
}

// Prints what the check found; the exit status it asks for.
int Report(const std::string& book_id, const InstalledBookCheck& result) {
  const BookCheck& check = result.check;
  std::string text;
  for (const std::string& path : check.missing) text += "missing " + Shown(path) + "\n";
  for (const std::string& path : check.changed) text += "changed " + Shown(path) + "\n";
  for (const std::string& path : check.extra) text += "extra " + Shown(path) + "\n";
  text += Shown(book_id) + ": " + ConditionText(result.condition);
  if (result.condition == BookCondition::kDamaged) {
    text += " (" + std::to_string(check.missing.size()) + " missing, " +
            std::to_string(check.changed.size()) + " changed, " +
            std::to_string(check.extra.size()) + " extra)";
  }
  WriteStdout(text + "\n");
  switch (result.condition) {
    case BookCondition::kIntact:
      return kExitOk;
    case BookCondition::kDamaged:
      return kExitBookDamaged;
    default:
      return kExitBookUnchecked;
  }
}

// The worse of two statuses: damaged over unchecked over intact.
int Worse(int a, int b) {
  auto rank = [](int status) {
    return status == kExitBookDamaged ? 2 : status == kExitBookUnchecked ? 1 : 0;
  };
  return rank(a) >= rank(b) ? a : b;
}

RecordPtr RecordOfBsid(BookCollection& collection, const std::string& bsid) {
  std::string gid;
  if (!collection.catalogue().GidForBsid(bsid, gid)) return nullptr;
  return collection.FindRecord(gid);
}

}  // namespace

int VerifyBooks(BookCollection& collection, const std::string& uid, const std::string& target) {
  // Read only: interrupted work is left to start, download or repair.
  LoadAllRecords(collection);
  LoadCachedCatalogue(collection, uid);
  std::vector<RecordPtr> books;
  if (target == "--all") {
    for (const RecordPtr& record : collection.AllRecords()) {
      if (record->Status() & kBookInstalled) books.push_back(record);
    }
    std::sort(books.begin(), books.end(),
              [](const RecordPtr& a, const RecordPtr& b) { return a->BookId() < b->BookId(); });
    if (books.empty()) WriteStdout("no installed books\n");
  } else {
    RecordPtr record = RecordOfBsid(collection, target);
    if (!record) return Fail("no book " + Shown(target) + " in the catalogue of this user");
    books.push_back(record);
  }
  int status = kExitOk;
  for (const RecordPtr& record : books)
    status = Worse(status, Report(record->BookId(), CheckRecordedBook(*record, CheckDepth::kFull)));
  return status;
}

int RepairBookFromTool(BookCollection& collection, const std::string& uid, const std::string& bsid,
                       OwnerPoster owner, const std::function<void(BookRecord&)>& follow) {
  StartForUser(collection, std::move(owner), uid);
  collection.StopSyncThread();
  // Work a killed run left behind is finished first, as the client would.
  collection.WaitForAllWork();

  BookOperationResult result = RepairBook(collection, bsid);
  if (result.code != 0) return Fail(platform::GbkToUtf8(result.message));
  RecordPtr record = RecordOfBsid(collection, bsid);
  if (!record) return Fail("no record for " + Shown(bsid));
  follow(*record);
  if (!IsInstalled(*record)) {
    std::string message = record->Message();
    return Fail(Shown(record->BookId()) + " is not installed" +
                (message.empty() ? std::string() : ": " + platform::GbkToUtf8(message)));
  }
  return Report(record->BookId(), CheckRecordedBook(*record, CheckDepth::kFull));
}
