// The manifest of a package, from its central directory.
#include <exception>
#include <unordered_map>

#include "books/book_manifest.h"
#include "zip/zip_archive.h"
#include "zip/zip_exception.h"

namespace {

// What the installation makes of an entry name: the safe relative name with
// empty parts dropped. False for a name it refuses.
bool InstalledPath(const std::string& name, std::string& path) {
  std::string relative;
  if (!CZipArchive::SafeRelativeName(name, relative)) return false;
  path.clear();
  size_t from = 0;
  while (from <= relative.size()) {
    size_t end = relative.find('/', from);
    if (end == std::string::npos) end = relative.size();
    if (end > from) {
      if (!path.empty()) path += '/';
      path.append(relative, from, end - from);
    }
    from = end + 1;
  }
  return true;
}

}  // namespace

bool ManifestFromArchive(const std::string& package_path, std::vector<ManifestEntry>& entries,
                         std::string& error) {
  entries.clear();
  error.clear();
  try {
    CZipArchive archive;
    archive.Open(package_path);
    std::unordered_map<std::string, size_t> index;
    for (size_t i = 0; i < archive.GetCount() && error.empty(); ++i) {
      const CZipFileHeader& header = archive.GetFileInfo(i);
      std::string path;
      bool named = InstalledPath(header.name(), path);
      // A directory entry naming the destination itself makes nothing.
      if (named && path.empty() && header.IsDirectory()) continue;
      if (!named || !IsSafeManifestPath(path)) {
        error = header.name() + kEntryUnsafeNameTail;
        break;
      }
      ManifestEntry entry{path, 0, 0, header.IsDirectory()};
      if (!entry.directory) {
        entry.size = header.uncompressed_size;
        entry.crc32 = header.crc32;
      }
      auto [at, added] = index.emplace(path, entries.size());
      if (!added) {
        entries[at->second] = std::move(entry);
      } else if (entries.size() < kMaxManifestEntries) {
        entries.push_back(std::move(entry));
      } else {
        error = package_path + ": more entries than a manifest may hold";
      }
    }
    archive.Close();
  } catch (const CZipException& e) {
    error = package_path + ": " + e.CauseText();
  } catch (const CPlatformException& e) {
    error = e.GetDescription().empty() ? package_path : e.GetDescription();
  } catch (const std::exception& e) {
    error = package_path + ": " + e.what();
  }
  if (error.empty()) return true;
  entries.clear();
  return false;
}
