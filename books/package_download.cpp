#include "books/package_download.h"

#include <strings.h>

#include "books/book_collection.h"
#include "books/book_install.h"
#include "books/book_paths.h"
#include "books/book_results.h"
#include "books/status_report.h"
#include "config/parameter_store.h"
#include "platform/file_system.h"
#include "util/md5.h"

namespace {

constexpr int kRangeNotSatisfiable = 416;

std::string DownloadFailedMessage(int counter, const std::string& url) {
  return "下载出错(" + std::to_string(counter) + ")，请检查网络。（错误地址: " + url + ")";
}

std::string DataServerRootFor(const BookRecord& record) {
  BookCollection* collection =
      record.collection() ? record.collection() : BookCollection::Instance();
  return collection ? collection->DataServerRoot() : std::string();
}

// The digest check failed: the package goes and the next download starts
// from its first byte.
void DiscardPackage(BookRecord& record, const std::string& package) {
  platform::RemoveFile(package);
  record.Update([](BookFields& f) { f.downloading_downloadedSize = 0; });
}

}  // namespace

bool PackageMatchesDigest(const std::string& path, const std::string& digest) {
  MD5Computer md5;
  md5.SetChunkSize(MD5Computer::kDefaultChunkSize);
  std::string computed;
  if (!md5.FileMD5(computed, path)) return false;
  return strcasecmp(computed.c_str(), digest.c_str()) == 0;
}

int PackageDownloadProgress(DownloadProgress* progress) {
  if (progress->stage != 6 || progress->user_data == nullptr) return 0;
  auto* record = static_cast<BookRecord*>(progress->user_data);
  uint32_t total = progress->total_size;
  uint32_t have = progress->start_offset + progress->received;
  record->Update([&](BookFields& f) {
    f.downloading_bookSize = total;
    f.downloading_downloadedSize = have;
  });
  return 0;
}

int DownloadAndInstall(BookRecord& record) {
  BookFields fields = record.Fields();
  const std::string package = PackagePathOf(fields);
  std::string url =
      PackageUrl(fields.bookURL, fields.downloading_bookPackageID, DataServerRootFor(record));
  const int64_t percent = RecordPercentage(fields);

  platform::PathInfo info = platform::Stat(package);
  uint64_t file_size = info.exists && !info.is_directory ? static_cast<uint64_t>(info.size) : 0;
  record.Update(
      [&](BookFields& f) { f.downloading_downloadedSize = static_cast<uint32_t>(file_size); });
  record.SetMessage({});
  record.ResetErrorCount();

  bool complete = (file_size != 0 && file_size == fields.downloading_bookSize) || percent >= 100;
  // A package that looks complete is installed only if it is the one the
  // record expects: a file cut short by a crash, or of another edition,
  // is fetched again instead of being unpacked.
  if (complete && !PackageMatchesDigest(package, fields.downloading_bookMD5)) {
    DiscardPackage(record, package);
    complete = false;
  }
  ReplaceUrlHost(url);

  if (!complete) {
    record.ClearStatusBits(kBookReserved);
    record.SetStatusBits(kBookDownloading);
    // The record on disk shows the download, so that a killed program
    // resumes it at the next start.
    SaveRecord(record);
    int32_t code = kHttpOk;
    bool verified = false;
    for (int attempt = 1; attempt <= kDownloadAttempts; ++attempt) {
      // Each attempt goes on from what the last one received.
      uint32_t offset = record.Fields().downloading_downloadedSize;
      code = HttpDownloadRange(package, url, offset, &record.stop_event(), fields.bookID.c_str(),
                               PackageDownloadProgress, &record);
      if (code == kHttpCancelled) {
        // Suspended, the record keeps showing the download it still owes.
        if (!record.WorkSuspended()) record.ClearStatusBits(kBookDownloading);
        return kHttpCancelled;
      }
      if (code == kHttpOk) break;
      if (code == kHttpTransportError + kRangeNotSatisfiable && offset > 0) {
        // Everything was here already, the record had not been saved since.
        // A longer file of something else starts over from its first byte.
        verified = PackageMatchesDigest(package, fields.downloading_bookMD5);
        if (verified) break;
        DiscardPackage(record, package);
      }
      if (attempt == kDownloadAttempts || IsApplicationExiting()) {
        int counter = record.IncrementErrorCount();
        record.SetMessage(DownloadFailedMessage(counter, url));
        return code;
      }
      ReplaceUrlHost(url);
    }
    if (!verified && !PackageMatchesDigest(package, fields.downloading_bookMD5)) {
      DiscardPackage(record, package);
      record.SetMessage(kPackageDigestMismatchMessage);
      return kBookRefused;
    }
  }
  // In one step: a status poll between two would see a book in no work at
  // all, as if the download had failed.
  record.Update([](BookFields& f) {
    f.bookStatus = (f.bookStatus & ~kBookDownloading) | kBookDownloaded;
  });
  // Verified: killed during the installation, the next start installs it.
  SaveRecord(record);
  return InstallPackage(record);
}
