#include "zip/extract_archive.h"

#include "util/directory_tree.h"
#include "util/file_io.h"
#include "zip/entry_extraction.h"
#include "zip/zip_archive.h"
#include "zip/zip_exception.h"

namespace {

// Cuts a code page 936 text to at most limit bytes without splitting a
// double-byte character.
std::string CutText(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t i = 0;
  while (i < limit) {
    size_t step = (static_cast<unsigned char>(text[i]) >= 0x81 && i + 1 < text.size()) ? 2 : 1;
    if (i + step > limit) break;
    i += step;
  }
  return text.substr(0, i);
}

// Threads that write the files of a large package: creating and filling
// files costs the kernel about as much as inflating them costs us, and both
// spread over cores.
constexpr size_t kExtractionThreads = 2;

// Below this a package unpacks in less time than starting threads takes.
bool WorthParallel(const CZipArchive& zip) {
  constexpr size_t kLeastFiles = 8;
  constexpr uint64_t kLeastBytes = 1 << 20;
  size_t files = 0;
  for (size_t i = 0; i < zip.GetCount() && files < kLeastFiles; ++i) {
    if (!zip.GetFileInfo(i).IsDirectory()) ++files;
  }
  return files >= kLeastFiles && zip.GetDeclaredSize() >= kLeastBytes;
}

}  // namespace

bool ReadDeclaredSize(const std::string& archive, uint64_t& bytes) {
  bytes = 0;
  try {
    CZipArchive zip;
    zip.Open(archive);
    bytes = zip.GetDeclaredSize();
    return true;
  } catch (const CPlatformException&) {
    return false;
  }
}

int ExtractArchive(const std::string& archive, const std::string& directory, std::string& message,
                   ExtractReport* report) {
  ExtractReport local;
  ExtractReport& r = report ? *report : local;
  r = ExtractReport{};
  message.clear();
  CZipArchive zip;
  try {
    RemoveDirectoryTree(directory);
    if (FileExists(directory)) {
      message = kDirectoryBusyMessage;
      r.detail = "cannot empty " + directory;
      return kExtractDirectoryBusy;
    }
    CreateDirectoryTree(directory);
    zip.Open(archive);
    r.entries_total = zip.GetCount();
    const EntryFailure failure = WorthParallel(zip) && EntriesIndependent(zip)
                                     ? ExtractEntriesInParallel(zip, directory, kExtractionThreads)
                                     : ExtractEntriesInOrder(zip, directory);
    r.entries_written = failure.failed() ? failure.index : zip.GetCount();
    if (failure.error) std::rethrow_exception(failure.error);
    if (failure.failed()) {
      message = failure.message;
      r.detail = "entry " + std::to_string(failure.index + 1) + " of " +
                 std::to_string(zip.GetCount()) + " (" + zip.GetFileInfo(failure.index).name() +
                 ") was not extracted" + (message.empty() ? "" : ": " + message);
      zip.Close();
      return kExtractEntryFailed;
    }
    zip.Close();
    return kExtractOk;
  } catch (const CPlatformException& e) {
    message = kExtractExceptionPrefix + CutText(e.GetDescription(), kMaxExceptionDescription);
    if (const auto* z = dynamic_cast<const CZipException*>(&e)) {
      r.detail = z->CauseText() + " (cause " + std::to_string(z->cause()) + ")";
      if (r.entries_written < r.entries_total)
        r.detail += " in entry " + std::to_string(r.entries_written + 1) + " (" +
                    zip.GetFileInfo(r.entries_written).name() + ")";
    } else {
      r.detail = e.GetDescription();
    }
    zip.Close();
    return kExtractFailedException;
  }
}
