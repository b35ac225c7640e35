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
#include <string>
#include <string_view>

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
  friend OutputFile CreateFileBelow(std::string_view, std::string_view);
  int fd_ = -1;
  std::string path_;
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
