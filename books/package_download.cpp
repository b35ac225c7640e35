#include "books/package_download.h"

#include <strings.h>

#include <chrono>
#include <memory>

#include "books/book_collection.h"
#include "books/book_install.h"
#include "books/book_paths.h"
#include "books/book_results.h"
#include "books/install_swap.h"
#include "books/package_stream.h"
#include "config/daily_log.h"
#include "config/data_server_record.h"
#include "books/status_report.h"
#include "config/parameter_store.h"
#include "platform/file_system.h"
#include "util/directory_tree.h"
#include "util/file_io.h"
#include "util/md5.h"
#include "util/path_names.h"

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

namespace {

// What the transfer's callback needs besides the record: the unpacker that
// follows the file, and the offset each attempt asked for.
struct StreamedTransfer {
  BookRecord* record = nullptr;
  PackageStreamUnpacker* unpacker = nullptr;
  uint32_t asked_offset = 0;
};

int StreamedDownloadProgress(DownloadProgress* progress) {
  auto* transfer = static_cast<StreamedTransfer*>(progress->user_data);
  if (progress->stage == 5 && progress->start_offset != transfer->asked_offset) {
    // The server sends the file from another offset: bytes already read are
    // rewritten, so the digest and the unpacking start over from the file.
    WriteLogLine("download " + transfer->record->BookId() +
                 ": the server ignored the range; unpacking after the transfer");
    transfer->unpacker->Invalidate();
  }
  if (progress->stage == 6)
    transfer->unpacker->Available(uint64_t{progress->start_offset} + progress->received);
  DownloadProgress own = *progress;
  own.user_data = transfer->record;
  return PackageDownloadProgress(&own);
}

// Starts unpacking into an empty staging directory beside the install
// directory as the package arrives; null when that cannot be set up (the
// package is then unpacked from the file once it is verified).
std::unique_ptr<PackageStreamUnpacker> StartUnpacker(const BookRecord& record,
                                                     const std::string& package) {
  // The caller has removed what an earlier run left there.
  const std::string staging = StagingDirPath(InstallDirPath(package));
  if (platform::PathExists(staging) || !CreateDirectoryTree(staging)) return nullptr;
  BookFields f = record.Fields();
  std::string root = f.bookInstallDir.size() > 3 ? f.bookInstallDir : GetProgramDirectory();
  // Never more than the disk holds less the reserve a failed installation
  // keeps; a package that would expand further is left to the
  // installation's own space check.
  uint64_t free_mb = FreeSpaceForBook(record, root);
  uint64_t budget = free_mb > kKeepPackageBelowMB ? (free_mb - kKeepPackageBelowMB) << 20 : 0;
  return std::make_unique<PackageStreamUnpacker>(package, staging, budget);
}

void DropUnpacker(std::unique_ptr<PackageStreamUnpacker>& unpacker, const std::string& package) {
  if (!unpacker) return;
  unpacker->Abandon();
  unpacker.reset();
  RemoveDirectoryTree(StagingDirPath(InstallDirPath(package)));
}

}  // namespace

int DownloadAndInstall(BookRecord& record) {
  BookFields fields = record.Fields();
  const std::string package = PackagePathOf(fields);
  std::string url =
      PackageUrl(fields.bookURL, fields.downloading_bookPackageID, DataServerRootFor(record));
  const int64_t percent = RecordPercentage(fields);
  // What an interrupted installation left beside the install directory.
  SettleInstallDirectories(InstallDirPath(package), (fields.bookStatus & kBookDownloaded) == 0);

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

  StagedContent staged = StagedContent::kNone;
  std::string staged_detail;
  if (!complete) {
    record.ClearStatusBits(kBookReserved);
    record.SetStatusBits(kBookDownloading);
    // The record on disk shows the download, so that a killed program
    // resumes it at the next start.
    SaveRecord(record);
    std::unique_ptr<PackageStreamUnpacker> unpacker = StartUnpacker(record, package);
    StreamedTransfer streamed{&record, unpacker.get(), 0};
    int32_t code = kHttpOk;
    bool verified = false;
    for (int attempt = 1; attempt <= kDownloadAttempts; ++attempt) {
      // Each attempt goes on from what the last one received.
      uint32_t offset = record.Fields().downloading_downloadedSize;
      streamed.asked_offset = offset;
      const auto began = std::chrono::steady_clock::now();
      if (unpacker) {
        code = HttpDownloadRange(package, url, offset, &record.stop_event(), fields.bookID.c_str(),
                                 StreamedDownloadProgress, &streamed);
      } else {
        code = HttpDownloadRange(package, url, offset, &record.stop_event(), fields.bookID.c_str(),
                                 PackageDownloadProgress, &record);
      }
      if (code != kHttpCancelled) {
        // How this server did, for the choice of the next one.
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
        uint32_t now_have = record.Fields().downloading_downloadedSize;
        bool answered = code == kHttpOk || code == kHttpTransportError + kRangeNotSatisfiable;
        ReportDataServerOutcome(url, answered, now_have > offset ? now_have - offset : 0,
                                took.count());
      }
      if (code == kHttpCancelled) {
        DropUnpacker(unpacker, package);
        // Suspended, the record keeps showing the download it still owes.
        if (!record.WorkSuspended()) record.ClearStatusBits(kBookDownloading);
        return kHttpCancelled;
      }
      if (code == kHttpOk) break;
      if (code == kHttpTransportError + kRangeNotSatisfiable && offset > 0) {
        // Everything was here already, the record had not been saved since.
        // A longer file of something else starts over from its first byte.
        if (unpacker) unpacker->Invalidate();
        verified = PackageMatchesDigest(package, fields.downloading_bookMD5);
        if (verified) break;
        DiscardPackage(record, package);
      }
      if (attempt == kDownloadAttempts || IsApplicationExiting()) {
        DropUnpacker(unpacker, package);
        int counter = record.IncrementErrorCount();
        record.SetMessage(DownloadFailedMessage(counter, url));
        return code;
      }
      ReplaceUrlHost(url);
    }
    if (unpacker && !verified) {
      platform::PathInfo arrived = platform::Stat(package);
      PackageStreamUnpacker::Outcome outcome =
          unpacker->Finish(arrived.exists ? static_cast<uint64_t>(arrived.size) : 0);
      if (outcome.digest_valid) {
        // The digest of the bytes as they arrived: the file is not read again.
        verified = strcasecmp(outcome.md5.c_str(), fields.downloading_bookMD5.c_str()) == 0;
        if (!verified) {
          DropUnpacker(unpacker, package);
          DiscardPackage(record, package);
          record.SetMessage(kPackageDigestMismatchMessage);
          return kBookRefused;
        }
        if (outcome.unpacked == ZipStreamExtractor::Check::kMatches) {
          staged = StagedContent::kComplete;
        } else if (outcome.unpacked == ZipStreamExtractor::Check::kDisagrees) {
          staged = StagedContent::kDisagrees;
          staged_detail = outcome.detail;
        } else {
          WriteLogLine("download " + fields.bookID + ": unpacking from the file (" +
                       outcome.detail + ")");
        }
      }
      unpacker.reset();
      if (staged == StagedContent::kNone) RemoveDirectoryTree(StagingDirPath(InstallDirPath(package)));
    } else if (unpacker) {
      DropUnpacker(unpacker, package);
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
  return InstallPackage(record, staged, staged_detail);
}
