// File-system calls of the program, on paths in code page 936.
//
// Every path handed in is a GBK text with "/" separators; it is converted to
// UTF-8 here, right before the OS sees it, and names read back from the OS
// are converted to GBK. Nothing here follows the program's own path rules
// (trailing separators and so on); the callers in util/ do that.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr char kPathSeparator = '/';

// GBK path -> UTF-8 path for the OS, and back.
std::string ToNativePath(std::string_view path);
std::string FromNativePath(std::string_view native);

// The errno of the calling thread's last failed call, and the system's text
// for a code (empty when the system has none).
int LastErrorCode();
void SetLastErrorCode(int code);
std::string SystemErrorText(int code);

enum class OpenMode {
  kRead,            // existing file, reading
  kReadWrite,       // existing file, reading and writing
  kCreateTruncate,  // create or truncate, writing
  kCreateAppend,    // create or open, writing at the end
  kCreateKeep,      // create or open, writing, keep content, start at 0
};

enum class Durability {
  kBuffered,
  kWriteThrough,  // every write returns only when the data is on the disk
};

// An open file; closes itself.
class File {
 public:
  File() = default;
  File(std::string_view path, OpenMode mode, Durability durability = Durability::kBuffered);
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  // Reads up to count bytes; returns the number read, or -1.
  int64_t Read(void* buffer, size_t count);
  // Reads up to count bytes at offset without using or moving the file's
  // position; returns the number read, or -1.
  int64_t ReadAt(void* buffer, size_t count, int64_t offset) const;
  // The same open file under a descriptor of its own, for reading on another
  // thread with ReadAt (the position is shared); closed on failure.
  File Duplicate() const;
  // Writes all bytes (repeating short writes); false on failure.
  [[nodiscard]] bool Write(const void* data, size_t count);
  // Moves to offset from the start; returns the new offset, or -1.
  int64_t Seek(int64_t offset);
  int64_t SeekToEnd();
  // Size in bytes, or -1.
  int64_t Size() const;
  [[nodiscard]] bool Truncate(int64_t size);
  [[nodiscard]] bool Sync();
  bool Close();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  std::string written_path_;  // set for files opened for writing
};

struct PathInfo {
  bool exists = false;
  bool is_directory = false;
  int64_t size = 0;
  int64_t modified_unix = 0;
  unsigned mode = 0;  // permission bits
};

PathInfo Stat(std::string_view path);  // follows links
bool PathExists(std::string_view path);
bool IsSymbolicLink(std::string_view path);  // the path itself, not followed
bool IsDirectory(std::string_view path);

// Single-directory operations; false with the errno kept on failure.
bool MakeDirectory(std::string_view path);  // fails on "already exists" too
bool RemoveDirectory(std::string_view path);
bool RemoveFile(std::string_view path);
// Replaces the target when it exists (rename(2)).
bool RenamePath(std::string_view from, std::string_view to);

struct DirectoryEntry {
  std::string name;           // GBK
  bool is_directory = false;  // a link to a directory counts as one
  bool is_link = false;
};

// Entries of one directory in the order the OS delivers them, "." and ".."
// included, whose names match the pattern ("*" and "?" wildcards, every other
// character literal, letters compared without case, "*.*" matches every
// name). False when the directory cannot be read.
bool ListDirectory(std::string_view directory, std::string_view pattern,
                   std::vector<DirectoryEntry>& entries);

// Deletes everything below directory and the directory itself, giving the
// owner write permission first where it is missing. Links are removed, never
// followed; files that cannot be deleted are passed over. Works on the names
// as the OS has them, so entries whose names are not valid text go too. The
// result is whether the directory itself was removed.
bool RemoveTree(std::string_view directory);

// Writes data to a temporary file in the same directory, flushes it to the
// disk and renames it over path, so readers see either the old or the new
// content, never a mixture. The parent directory must exist. An existing
// file without write permission (IsWriteProtected of file_mode.h) is left
// as it is and the call fails with EACCES, as replacing a read-only file
// fails on Windows; the rename alone would bypass the lock.
[[nodiscard]] bool ReplaceFileAtomically(std::string_view path, const void* data, size_t size);

// Removes the temporary files that ReplaceFileAtomically left in directory
// when its process was killed between writing and renaming: those of
// processes that no longer run. Files of running processes stay.
void RemoveAbandonedReplacements(std::string_view directory);

// The process's temporary-files directory ($TMPDIR or /tmp), UTF-8.
std::string TemporaryDirectory();

}  // namespace platform
