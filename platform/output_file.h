// Writing extracted files below a directory without ever leaving it.
//
// Every component below the root is opened with O_NOFOLLOW, so a symbolic
// link met on the way (planted by another program, or left from an earlier
// run) makes the call fail instead of redirecting the write. Files are
// always created anew as regular files: an existing entry of the same name is
// unlinked first, so a hard link to a file elsewhere is never written through.
// The root itself is trusted and may lie below links.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// An open, newly created regular file; closes itself.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  [[nodiscard]] bool Write(const void* data, size_t count);
  // Last-write time in seconds since the epoch; the last-access time
  // becomes the current time.
  [[nodiscard]] bool SetModifiedTime(int64_t unix_seconds);
  [[nodiscard]] bool SetMode(unsigned mode);
  bool Close();

 private:
  friend class OutputTree;
  int fd_ = -1;
  std::string path_;
};

// Creates files below one root as CreateFileBelow does, keeping the root and
// the directories met on the way open (up to kMostOpenDirectories): a file in
// a folder met before costs one open instead of a walk from the root. A
// directory held open is the one found on the way, whatever happens to its
// name meanwhile; one that was removed is looked up again. When the process
// runs out of descriptors, the ones held are given back and the file is
// tried once more. One thread at a time.
class OutputTree {
 public:
  static constexpr size_t kMostOpenDirectories = 256;

  explicit OutputTree(std::string_view root);
  ~OutputTree();
  OutputTree(const OutputTree&) = delete;
  OutputTree& operator=(const OutputTree&) = delete;

  const std::string& root() const { return root_; }
  // As CreateFileBelow(root(), relative).
  OutputFile CreateFile(std::string_view relative);

 private:
  OutputFile CreateOnce(const std::vector<std::string>& parts, std::string_view relative);
  // The descriptor of the directory made of the first count parts (0: the
  // root), walked and created as needed; -1 with errno set.
  int Directory(const std::vector<std::string>& parts, size_t count);
  void CloseAll();

  std::string root_;
  int root_fd_ = -1;
  // Native relative path ("a/b") -> descriptor.
  std::map<std::string, int> open_;
};

// Creates root/relative as a new regular file for writing, creating the
// missing directories between (mode 0777 less the umask). relative uses "/"
// between components and must not hold "." or ".." components (callers have
// refused those). A closed file, with the errno kept, on failure.
OutputFile CreateFileBelow(std::string_view root, std::string_view relative);

// Creates root/relative and the directories above it, the same way.
[[nodiscard]] bool CreateDirectoriesBelow(std::string_view root, std::string_view relative);

// Sets the permission bits and the last-write time (seconds since the
// epoch) of the regular file root/relative; false for anything else, and a
// link is not followed.
[[nodiscard]] bool SetFileModeAndTimeBelow(std::string_view root, std::string_view relative,
                                           unsigned mode, int64_t unix_seconds);
// Sets the permission bits of the directory root/relative (a link is not
// followed).
[[nodiscard]] bool SetDirectoryModeBelow(std::string_view root, std::string_view relative,
                                         unsigned mode);

// The process's file-mode creation mask, read once without changing it.
unsigned ProcessUmask();

// Sets the process's file-mode creation mask; the way the program changes
// it, so that ProcessUmask stays in step. Before other threads make files.
void SetProcessUmask(unsigned mask);

// Seconds since the epoch of a local calendar time (month 1-12); the
// daylight-saving rule in force at that date applies.
int64_t LocalTimeToUnix(int year, int month, int day, int hour, int minute, int second);

}  // namespace platform
