#include "books/recovery.h"

#include <cmath>

#include "app/sealed_file.h"
#include "app/tip_text.h"
#include "books/book_install.h"
#include "books/book_operations.h"
#include "books/book_paths.h"
#include "books/book_results.h"
#include "books/install_swap.h"
#include "books/catalogue_sync.h"
#include "books/package_download.h"
#include "platform/file_system.h"
#include "util/directory_tree.h"
#include "util/file_io.h"
#include "util/json_tree.h"
#include "util/number_text.h"
#include "util/path_names.h"
#include "util/text_encoding.h"

namespace {

constexpr size_t kDigestLength = 32;

// A member's text: strings as they are, numbers as decimal text.
bool MemberText(const cJSON* object, const char* name, std::string& text) {
  const cJSON* item = cJSON_GetObjectItem(object, name);
  if (cJSON_IsString(item) && item->valuestring) {
    text = item->valuestring;
    return true;
  }
  // A number beyond 64 bits (or not finite) has no decimal text of ours: it
  // counts as missing, since converting it would be undefined.
  if (cJSON_IsNumber(item) && std::fabs(item->valuedouble) < 9.2e18) {
    text = std::to_string(static_cast<long long>(item->valuedouble));
    return true;
  }
  return false;
}

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// One legacy book as record fields; false when a part is missing or wrong.
bool LegacyBookFields(const BookCollection& collection, const cJSON* book, BookFields& f,
                      std::string& digest) {
  std::string installed, image, bsid, url, reader, size, downloaded;
  if (!MemberText(book, "bookInstalled", installed) || !MemberText(book, "baseImage", image)) {
    return false;
  }
  std::string gid = GetFileTitleWithoutExtension(ForwardSlashes(image));
  if (!AllDigits(gid)) return false;
  if (!MemberText(book, "bsid", bsid) || !MemberText(book, "bookURL", url)) return false;
  std::string title = collection.catalogue().FullNameForGid(gid);
  std::string digest_file = PackagePath(url, gid, collection.program_directory()) + ".MD5";
  if (!ReadTextFileAsAnsi(digest_file, digest) || digest.size() != kDigestLength) return false;
  if (!MemberText(book, "bookReader", reader)) return false;
  MemberText(book, "bookSize", size);
  MemberText(book, "downloadSize", downloaded);
  std::string name = GetFileNameFromPath(ForwardSlashes(url));
  size_t first_dot = name.find('.', 1);
  if (name.size() < 2 || first_dot == std::string::npos) return false;
  std::string package_id = name.substr(0, name.find('.'));
  if (package_id.empty()) return false;

  f = BookFields{};
  f.gid = f.bookID = gid;
  uint32_t size_value = static_cast<uint32_t>(ParseLeadingInt(size));
  if (ParseLeadingInt(installed) != 0) {
    f.bookStatus = kBookInstalled;
    f.bookSize = size_value;
  } else {
    uint32_t downloaded_value = static_cast<uint32_t>(ParseLeadingInt(downloaded));
    f.bookStatus = downloaded_value != 0 ? kBookDownloading : 0;
    f.bookSize = f.downloading_bookSize = size_value;
    f.downloading_downloadedSize = downloaded_value;
    f.downloading_bookPackageID = package_id;
    f.downloading_bookMD5 = digest;
  }
  f.bookMD5 = digest;
  f.imageURL = image;
  f.bookTitle = title;
  f.bookURL = url;
  f.bookReader = reader;
  f.editionName = f.editionDesc = title;
  f.bookPackageID = f.last_bookPackageID = package_id;
  f.last_bookMD5 = digest;
  return true;
}

// Copies a legacy file to ".old" (never over an existing one) and removes it.
void RetireLegacyFile(const std::string& path) {
  std::string data;
  std::string backup = path + ".old";
  if (ReadWholeFile(path, data) && !FileExists(backup)) {
    WriteWholeFileAtomically(data.data(), data.size(), backup);
  }
  platform::RemoveFile(path);
}

// Files of work that ended while its last step was cut short: the package
// of a book whose installation was saved before the package went, and the
// install directory of a book whose uninstall (or failed installation) was
// saved before the directory went. A book with work to resume keeps its
// files, packages kept for resuming stay, and so does the directory of an
// installation that failed for want of space (it counts its bytes).
void RemoveLeftoversOfEndedWork(BookCollection& collection) {
  for (const RecordPtr& record : collection.AllRecords()) {
    BookFields f = record->Fields();
    if (f.bookStatus & (kBookDownloading | kBookDownloaded)) continue;
    std::string package = PackagePathOf(f);
    std::string directory = InstallDirPath(package);
    if (f.bookStatus & kBookInstalled) {
      // Killed after the record named the new edition: the old one goes.
      SettleInstallDirectories(directory, true);
      bool installed_package = f.downloading_bookPackageID == f.bookPackageID &&
                               f.downloading_bookMD5 == f.bookMD5;
      if (installed_package && FileExists(package)) platform::RemoveFile(package);
    } else if (f.downloading_downloadedSize == 0) {
      RemoveInstallDirectories(directory);
    } else {
      SettleInstallDirectories(directory, true);
    }
  }
}

// The body of the record's worker when recovery started it. The tip goes
// as soon as a transfer resumes, or once the book is checked and installed.
void RecoveryWorker(BookCollection& collection, BookRecord& record) {
  bool tip_shown = true;
  auto hide_tip = [&] {
    if (tip_shown) collection.PostToOwner(OwnerRequest::kHideTip);
    tip_shown = false;
  };
  ResumeAfterLoad(record, hide_tip);
  hide_tip();
}

}  // namespace

int MigrateLegacyBookList(BookCollection& collection, const std::string& uid) {
  std::string path = LegacyBookListPath(uid);
  if (!FileExists(path)) return kBookOk;
  std::string text;
  if (ReadSealedFile(path, 0, text) != kSealOk) return kBookReadFailed;
  JsonPtr json = ParseJson(text);
  if (!json) return kBookOk;
  const cJSON* books = cJSON_GetObjectItem(json.get(), "Books");
  if (!books) return kBookOk;
  const cJSON* book = nullptr;
  cJSON_ArrayForEach(book, books) {
    BookFields fields;
    std::string digest;
    if (!LegacyBookFields(collection, book, fields, digest)) return kBookRefused;
    if (!FileExists(RecordPath(fields.gid))) {
      BookRecord record(&collection);
      record.SetFields(fields);
      SaveRecord(record);
    }
    if (!FileExists(PackageListPath(fields.gid))) {
      PackageList list;
      list.gid = fields.gid;
      list.package_ids.push_back(fields.bookPackageID);
      list.digests.push_back(digest);
      WritePackageList(list);
    }
  }
  return kBookOk;
}

int StartForUser(BookCollection& collection, OwnerPoster owner, const std::string& uid) {
  collection.SetOwner(std::move(owner));
  // A download resumed below needs the data server before the first
  // synchronisation has run.
  RefreshCollectionAddresses(collection);
  collection.SetRecoveryStarter(
      [&collection](const RecordPtr& record) { StartRecoveryWorker(collection, record); });

  // A uid that cannot name a folder has no files of its own here: the
  // books are loaded, nothing of the user's is read or converted.
  bool own_files = IsSafeUid(uid);
  // Saves killed before their rename left temporary files there.
  platform::RemoveAbandonedReplacements(JoinPath(collection.program_directory(), "data/bookinf"));
  std::string legacy_list = LegacyBookListPath(uid);
  if (!own_files || !FileExists(legacy_list)) {
    LoadAllRecords(collection);
    LoadAllPackageLists(collection);
  } else {
    CreateParentDirectories(CataloguePath(uid));
    std::string legacy_catalogue = LegacyCataloguePath(uid);
    std::string text;
    if (ReadSealedFile(legacy_catalogue, 0, text) == kSealOk &&
        WriteSealedFile(text, CataloguePath(uid)) == kSealOk) {
      LoadCachedCatalogue(collection, uid);
    }
    MigrateLegacyBookList(collection, uid);
    LoadAllPackageLists(collection);
    LoadAllRecords(collection);
    RetireLegacyFile(legacy_list);
    if (FileExists(legacy_catalogue)) RetireLegacyFile(legacy_catalogue);
  }
  RemoveLeftoversOfEndedWork(collection);
  if (own_files) LoadCachedCatalogue(collection, uid);
  collection.StartSyncThread();
  collection.RequestSync();
  return kBookOk;
}

int ResumeAfterLoad(BookRecord& record, const std::function<void()>& transfer_resumes) {
  BookFields fields = record.Fields();
  if (fields.bookStatus & kBookDownloading) {
    if (fields.downloading_bookSize == 0 ||
        fields.downloading_bookSize != fields.downloading_downloadedSize) {
      record.ClearStatusBits(kBookDownloaded);
      SaveRecord(record);
      if (transfer_resumes) transfer_resumes();
      // This is the record's worker already: starting another one here
      // would wait for itself.
      DownloadWorker(record);
      return kBookOk;
    }
    std::string package = PackagePathOf(fields);
    if (!PackageMatchesDigest(package, fields.downloading_bookMD5)) {
      platform::RemoveFile(package);
      record.Update([](BookFields& f) {
        f.bookStatus &= ~(kBookDownloading | kBookDownloaded);
        f.downloading_downloadedSize = 0;
      });
      SaveRecord(record);
      record.SetMessage(kPackageDigestMismatchMessage);
      return kBookRefused;
    }
    record.Update(
        [](BookFields& f) { f.bookStatus = (f.bookStatus & ~kBookDownloading) | kBookDownloaded; });
  }
  int result = kBookOk;
  if (record.Status() & kBookDownloaded) result = InstallPackage(record);
  SaveRecord(record);
  return result;
}

void StartRecoveryWorker(BookCollection& collection, const RecordPtr& record) {
  SetTipText(kRecoveryTip);
  collection.PostToOwner(OwnerRequest::kShowTip);
  // The record's own worker: an uninstall, a new login and the collection's
  // end stop it and wait for it like a download.
  record->StartDownloadWorker([&collection](BookRecord& r) { RecoveryWorker(collection, r); });
}
