#include "zip/extract_archive.h"

#include "util/directory_tree.h"
#include "util/file_io.h"
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
    for (size_t i = 0; i < zip.GetCount(); ++i) {
      if (!zip.ExtractEntry(i, directory, message)) {
        r.detail = "entry " + std::to_string(i + 1) + " of " + std::to_string(zip.GetCount()) +
                   " (" + zip.GetFileInfo(i).name() + ") was not extracted" +
                   (message.empty() ? "" : ": " + message);
        zip.Close();
        return kExtractEntryFailed;
      }
      ++r.entries_written;
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
