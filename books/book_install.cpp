#include "books/book_install.h"

#include "books/book_collection.h"
#include "books/book_manifest.h"
#include "books/book_paths.h"
#include "books/book_results.h"
#include "books/install_swap.h"
#include "config/daily_log.h"
#include "platform/file_system.h"
#include "util/directory_tree.h"
#include "util/drive_helpers.h"
#include "util/path_names.h"
#include "zip/extract_archive.h"

namespace {

BookCollection* CollectionOf(const BookRecord& record) {
  return record.collection() ? record.collection() : BookCollection::Instance();
}

}  // namespace

uint64_t FreeSpaceForBook(const BookRecord& record, const std::string& path) {
  uint64_t free_mb = 0;
  if (BookCollection* collection = CollectionOf(record)) {
    if (!collection->FreeSpaceMB(path, free_mb)) free_mb = 0;
  } else {
    uint64_t total_mb = 0;
    if (!GetDiskSpaceMB(total_mb, free_mb, path)) free_mb = 0;
  }
  return free_mb;
}

namespace {

// "数据包解压出错(%d)" with the counter; the two messages go on from there.
std::string ExtractFailedHead(int counter) {
  return "数据包解压出错(" + std::to_string(counter) + ")";
}

}  // namespace

uint64_t SpaceNeededMB(uint64_t expanded_size) {
  constexpr uint64_t kMiB = uint64_t{1} << 20;
  return expanded_size / kMiB + (expanded_size % kMiB != 0 ? 1 : 0);
}

int ExtractPackage(BookRecord& record, const std::string& package, const std::string& directory) {
  record.SetMessage({});
  std::string message;
  int result = ExtractArchive(package, directory, message);
  record.SetMessage(message);
  if (result == kExtractEntryFailed) {
    if (BookCollection* collection = CollectionOf(record))
      collection->ShowCollectionMessage(kEntryFailedPrefix + message, 0);
  }
  return result;
}

int InstallPackage(BookRecord& record, StagedContent staged, const std::string& staged_detail) {
  BookFields fields = record.Fields();
  std::string program_directory = GetProgramDirectory();
  std::string package = PackagePathOf(fields);
  std::string directory = InstallDirPath(package);
  std::string staging = StagingDirPath(directory);
  record.Update([](BookFields& f) {
    f.bookStatus = (f.bookStatus & ~(kBookDownloading | kBookInstalled)) | kBookDownloaded;
  });
  // An edition left set aside by an interrupted swap is the installed one
  // until the record names another.
  PutBackSetAside(directory);
  RemoveAbandonedManifestWrites(directory);
  // The edition installed now stays, whatever happens to the new one.
  const bool had_edition = platform::IsDirectory(directory);

  // The file system that will hold the book.
  std::string root = fields.bookInstallDir.size() > 3 ? fields.bookInstallDir : program_directory;
  int result = kBookOk;
  if (staged == StagedContent::kComplete) {
    // Unpacked while it arrived: the space was there.
  } else if (staged == StagedContent::kDisagrees) {
    WriteLogLine("ERR install " + fields.bookID + ": " + staged_detail);
    record.SetMessage(kExtractExceptionPrefix);
    result = kExtractFailedException;
  } else {
    uint64_t expanded_size = 0;
    bool sized = ReadDeclaredSize(package, expanded_size);
    if (sized && FreeSpaceForBook(record, root) < SpaceNeededMB(expanded_size)) {
      record.IncrementErrorCount();
      record.SetMessage(kNoDiskSpaceMessage);
      record.ClearStatusBits(kBookDownloaded);
      if (had_edition) record.SetStatusBits(kBookInstalled);
      return kBookNoDiskSpace;
    }
    result = ExtractPackage(record, package, staging);
  }
  if (result == kBookOk) {
    // The list of what the package unpacked to, for checking the book later.
    std::vector<ManifestEntry> entries;
    std::string error;
    if (!ManifestFromArchive(package, entries, error) ||
        !WriteBookManifest(ManifestPathFor(staging), fields.downloading_bookPackageID, entries)) {
      WriteLogLine("install " + fields.bookID + ": no manifest (" + error + ")");
    }
  }
  if (result == kBookOk && !SwapInStaging(directory)) {
    WriteLogLine("ERR install " + fields.bookID + ": cannot move " + staging + " to " + directory);
    record.SetMessage(kDirectoryBusyMessage);
    result = kExtractDirectoryBusy;
  }
  if (result != kBookOk) {
    // Half an edition is of no use to anyone: the staging directory goes in
    // every case, and the book stays as it was.
    platform::RemoveFile(ManifestPathFor(staging));
    RemoveDirectoryTree(staging);
    uint64_t free_mb = FreeSpaceForBook(record, root);
    int counter = record.IncrementErrorCount();
    if (free_mb >= kKeepPackageBelowMB) {
      record.SetMessage(ExtractFailedHead(counter) + "，" + record.Message());
      platform::RemoveFile(package);
      record.Update([](BookFields& f) { f.downloading_downloadedSize = 0; });
    } else {
      record.SetMessage(ExtractFailedHead(counter) + ",请检查硬盘空间");
    }
    record.Update([&](BookFields& f) {
      f.bookStatus &= ~kBookDownloaded;
      if (had_edition) f.bookStatus |= kBookInstalled;
    });
    return result;
  }
  record.Update([](BookFields& f) {
    f.bookPackageID = f.downloading_bookPackageID;
    f.bookMD5 = f.downloading_bookMD5;
    f.bookStatus |= kBookInstalled;
    f.bookSize = f.downloading_bookSize;
    f.bookStatus &= ~kBookDownloaded;
  });
  // The record says "installed" on disk before the old edition and the
  // package go: killed in between, the next start finds an installed book,
  // never a verified package that is missing (whose retry would clear the
  // book). Unsaved, the next start puts the old edition back and installs
  // again from the package.
  if (SaveRecord(record) == kBookOk) {
    DropSetAside(directory);
    platform::RemoveFile(package);
  }
  return kBookOk;
}
