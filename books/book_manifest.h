// The manifest of an installed book: every entry its package unpacked, with
// the size and CRC-32 of each file, kept in a file beside the install
// directory (never inside it: the installed tree stays exactly what the
// package unpacks to). It lets a damaged book be found, cheaply by sizes
// before the book is opened, or fully by content.
//
// The manifest lives in a folder the user can write to, so reading it
// trusts nothing: it is bounded in size and lines, and a name in it that
// could lead out of the book (absolute, with "." or "..", empty parts)
// makes the whole manifest unusable rather than being looked at.
//
// File format (bytes; names in code page 936 as in the package):
//   tomerack-book-manifest 1 PACKAGE-ID
//   f SIZE CRC32 PATH        a file: decimal size, 8 lower-case hex digits
//   d PATH                   a directory the package names
//   end COUNT                the number of entry lines above
// PACKAGE-ID and PATH are escaped: "\\" for a backslash, "\n", "\r", "\t",
// and "\xHH" for other control bytes, so every entry stays on one line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ManifestEntry {
  std::string path;  // relative to the install directory, "/" between parts
  uint64_t size = 0;
  uint32_t crc32 = 0;
  bool directory = false;
};

inline constexpr const char kManifestSuffix[] = ".manifest";
// Limits on a manifest read back; a package that needs more is refused when
// its manifest is made.
inline constexpr uint64_t kMaxManifestBytes = 64ull << 20;
inline constexpr size_t kMaxManifestEntries = 1000000;
inline constexpr size_t kMaxManifestPathBytes = 4096;

// install_dir + ".manifest": beside the install directory.
std::string ManifestPathFor(const std::string& install_dir);

// The entries a package unpacks to, from its central directory, in archive
// order; a name that occurs again keeps its first place and takes the later
// entry's values, as the later entry overwrites the earlier on disk. False
// with the reason (code page 936) when the package cannot be read, has more
// entries than a manifest may hold, or names a path that the installation
// would refuse.
[[nodiscard]] bool ManifestFromArchive(const std::string& package_path,
                                       std::vector<ManifestEntry>& entries, std::string& error);

// Writes the manifest atomically (a temporary file in the same directory,
// flushed to the disk, renamed over path). False, with nothing written, for
// entries a reader would refuse (see IsSafeManifestPath, the limits above,
// a path listed twice) or when the write fails.
[[nodiscard]] bool WriteBookManifest(const std::string& manifest_path,
                                     const std::string& package_id,
                                     const std::vector<ManifestEntry>& entries);

// Removes what writes of manifests beside install_dir left when their
// process was killed before the rename (temporary files of processes that
// no longer run). For the start after a kill.
void RemoveAbandonedManifestWrites(const std::string& install_dir);

// Reads a manifest. False, with both outputs emptied, when the file is
// missing, unreadable, over the limits, or not exactly in the format above.
[[nodiscard]] bool ReadBookManifest(const std::string& manifest_path, std::string& package_id,
                                    std::vector<ManifestEntry>& entries);

// The manifest text of the entries, and the entries of a manifest text
// (false for anything but a well-formed text within the limits).
std::string ManifestText(const std::string& package_id, const std::vector<ManifestEntry>& entries);
[[nodiscard]] bool ParseManifestText(const std::string& text, std::string& package_id,
                                     std::vector<ManifestEntry>& entries);

// A name or package identifier on one line, escaped as in the manifest,
// for logs and terminals.
std::string PrintableName(const std::string& name);

// True when path names something strictly below a directory: not empty,
// not absolute, no empty, "." or ".." parts, no zero byte, at most
// kMaxManifestPathBytes.
bool IsSafeManifestPath(const std::string& path);

enum class CheckDepth {
  // One look (a stat) at each entry: what is missing, or there with another
  // type or size. What a book needs before it opens; extra files are not
  // looked for.
  kSizesOnly,
  // Also the CRC-32 of every file's content, and every file below the
  // install directory that the manifest does not name.
  kFull,
};

struct BookCheck {
  std::vector<std::string> missing;  // entries not there
  std::vector<std::string> changed;  // there, but not as the package made them
  std::vector<std::string> extra;    // files below the book the package did not make
  bool manifest_ok = false;          // false: nothing could be checked
  bool Intact() const { return manifest_ok && missing.empty() && changed.empty() && extra.empty(); }
  size_t ProblemCount() const { return missing.size() + changed.size() + extra.size(); }
};

// Compares the install directory with its manifest (see CheckDepth for what
// each depth looks at). Nothing below the directory is followed: a link
// where the manifest expects a file or directory is changed, a link or
// anything else the manifest does not name is extra, and a name never leads
// out of the directory. An install directory that is gone makes every entry
// missing. With the manifest missing or unusable, manifest_ok is false and
// the lists are empty. Missing and changed entries come in manifest order,
// extra files sorted.
BookCheck CheckInstalledBook(const std::string& install_dir, const std::string& manifest_path,
                             CheckDepth depth);

// The same against entries already read.
BookCheck CheckBookAgainst(const std::string& install_dir,
                           const std::vector<ManifestEntry>& entries, CheckDepth depth);
