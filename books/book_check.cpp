// Comparing an install directory with its manifest.
#include <zlib.h>

#include <algorithm>
#include <numeric>
#include <set>

#include "books/book_manifest.h"
#include "platform/file_system.h"
#include "platform/tree_reader.h"

namespace {

// Names are compared as the file system holds them: a package name that is
// no valid text in the code page was stored with replacement characters,
// and the walk reads it back that way.
std::string NativeKey(const std::string& path) {
  return platform::ToNativePath(path);
}

bool ContentMatches(platform::TreeReader& tree, const ManifestEntry& entry) {
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t size = 0;
  bool read = tree.ReadFile(entry.path, [&](const uint8_t* data, size_t n) {
    crc = crc32(crc, data, static_cast<uInt>(n));
    size += n;
  });
  return read && size == entry.size && static_cast<uint32_t>(crc) == entry.crc32;
}

enum class Verdict { kSame, kMissing, kChanged };

Verdict CheckEntry(platform::TreeReader& tree, const ManifestEntry& entry, CheckDepth depth) {
  // Never looked at: a reader refuses such manifests, this is for callers
  // that made their entries themselves.
  if (!IsSafeManifestPath(entry.path)) return Verdict::kChanged;
  platform::NodeInfo node = tree.Inspect(entry.path);
  if (node.kind == platform::NodeKind::kMissing) return Verdict::kMissing;
  bool same = entry.directory ? node.kind == platform::NodeKind::kDirectory
                              : node.kind == platform::NodeKind::kFile && node.size == entry.size;
  if (same && !entry.directory && depth == CheckDepth::kFull) same = ContentMatches(tree, entry);
  return same ? Verdict::kSame : Verdict::kChanged;
}

// Everything below the directory that is neither a directory nor named by
// the manifest; a directory that cannot be read counts too, since what it
// holds cannot be told.
void FindExtras(const std::string& install_dir, const std::set<std::string>& named,
                BookCheck& check) {
  platform::WalkBelow(install_dir, [&](const std::string& relative, platform::NodeKind kind) {
    if (kind == platform::NodeKind::kDirectory) return;
    if (kind != platform::NodeKind::kUnreadable && named.count(NativeKey(relative))) return;
    check.extra.push_back(relative);
  });
  std::sort(check.extra.begin(), check.extra.end());
  check.extra.erase(std::unique(check.extra.begin(), check.extra.end()), check.extra.end());
}

}  // namespace

BookCheck CheckBookAgainst(const std::string& install_dir,
                           const std::vector<ManifestEntry>& entries, CheckDepth depth) {
  // Looked at in the order of their paths, so that the entries of one
  // folder follow each other and its directories are opened once; reported
  // in the manifest's order.
  std::vector<size_t> order(entries.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return entries[a].path < entries[b].path; });
  std::vector<Verdict> verdicts(entries.size());
  platform::TreeReader tree(install_dir);
  for (size_t i : order) verdicts[i] = CheckEntry(tree, entries[i], depth);

  BookCheck check;
  check.manifest_ok = true;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (verdicts[i] == Verdict::kMissing) check.missing.push_back(entries[i].path);
    if (verdicts[i] == Verdict::kChanged) check.changed.push_back(entries[i].path);
  }
  if (depth == CheckDepth::kFull) {
    // A file where a directory should be is changed already, not extra.
    std::set<std::string> named;
    for (const ManifestEntry& entry : entries) named.insert(NativeKey(entry.path));
    FindExtras(install_dir, named, check);
  }
  return check;
}

BookCheck CheckInstalledBook(const std::string& install_dir, const std::string& manifest_path,
                             CheckDepth depth) {
  std::string package_id;
  std::vector<ManifestEntry> entries;
  if (!ReadBookManifest(manifest_path, package_id, entries)) return BookCheck{};
  return CheckBookAgainst(install_dir, entries, depth);
}
