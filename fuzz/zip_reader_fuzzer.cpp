// The package reader on any bytes: the central directory, then every entry
// written below a scratch folder, with its checksum checked.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "util/directory_tree.h"
#include "zip/zip_archive.h"
#include "zip/zip_exception.h"

namespace {
// Enough for every path through the reader; a declared million entries
// would only repeat them.
constexpr size_t kMostEntries = 64;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = fuzz_support::WriteInputFile(data, size, "package.zip");
  std::string destination = fuzz_support::ScratchDirectory() + "/entries";
  try {
    CZipArchive archive;
    archive.Open(path);
    for (size_t i = 0; i < archive.GetCount() && i < kMostEntries; ++i) {
      std::string relative;
      CZipArchive::SafeRelativeName(archive.GetFileInfo(i).name(), relative);
      std::string message;
      try {
        archive.ExtractEntry(i, destination, message);
      } catch (const CPlatformException&) {
      }
    }
    archive.Close();
  } catch (const CPlatformException&) {
  }
  RemoveDirectoryTree(destination);
  return 0;
}
