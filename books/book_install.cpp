#include "books/book_install.h"

#include "books/book_collection.h"
#include "books/book_paths.h"
#include "books/book_results.h"
#include "platform/file_system.h"
#include "util/directory_tree.h"
#include "util/drive_helpers.h"
#include "util/path_names.h"
#include "zip/extract_archive.h"

namespace {

BookCollection* CollectionOf(const BookRecord& record) {
  return record.collection() ? record.collection() : BookCollection::Instance();
}

uint64_t FreeSpaceFor(const BookRecord& record, const std::string& path) {
  uint64_t free_mb = 0;
  if (BookCollection* collection = CollectionOf(record)) {
    if (!collection->FreeSpaceMB(path, free_mb)) free_mb = 0;
  } else {
    uint64_t total_mb = 0;
    if (!GetDiskSpaceMB(total_mb, free_mb, path)) free_mb = 0;
  }
  return free_mb;
}

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

int InstallPackage(BookRecord& record) {
  BookFields fields = record.Fields();
  std::string program_directory = GetProgramDirectory();
  std::string package = PackagePathOf(fields);
  std::string directory = InstallDirPath(package);
  record.Update([](BookFields& f) {
    f.bookStatus = (f.bookStatus & ~(kBookDownloading | kBookInstalled)) | kBookDownloaded;
  });

  // The file system that will hold the book.
  std::string root = fields.bookInstallDir.size() > 3 ? fields.bookInstallDir : program_directory;
  int result = kBookOk;
  uint64_t expanded_size = 0;
  bool sized = ReadDeclaredSize(package, expanded_size);
  if (sized && FreeSpaceFor(record, root) < SpaceNeededMB(expanded_size)) {
    record.IncrementErrorCount();
    record.SetMessage(kNoDiskSpaceMessage);
    result = kBookNoDiskSpace;
  } else {
    result = ExtractPackage(record, package, directory);
    if (result != kBookOk) {
      uint64_t free_mb = FreeSpaceFor(record, root);
      int counter = record.IncrementErrorCount();
      if (free_mb >= kKeepPackageBelowMB) {
        record.SetMessage(ExtractFailedHead(counter) + "，" + record.Message());
        platform::RemoveFile(package);
        RemoveDirectoryTree(directory);
        record.Update([](BookFields& f) { f.downloading_downloadedSize = 0; });
      } else {
        record.SetMessage(ExtractFailedHead(counter) + ",请检查硬盘空间");
      }
    } else {
      record.Update([](BookFields& f) {
        f.bookPackageID = f.downloading_bookPackageID;
        f.bookMD5 = f.downloading_bookMD5;
        f.bookStatus |= kBookInstalled;
        f.bookSize = f.downloading_bookSize;
        f.bookStatus &= ~kBookDownloaded;
      });
      // The record says "installed" on disk before the package goes: killed
      // in between, the next start finds an installed book, never a
      // verified package that is missing (whose retry would clear the book).
      if (SaveRecord(record) == kBookOk) platform::RemoveFile(package);
    }
  }
  record.ClearStatusBits(kBookDownloaded);
  return result;
}
