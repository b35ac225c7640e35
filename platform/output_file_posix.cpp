#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/descriptor_io.h"
#include "platform/fault_points.h"
#include "platform/file_system.h"
#include "platform/output_file.h"

namespace platform {

namespace {

std::vector<std::string> Components(std::string_view relative_native) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= relative_native.size()) {
    size_t end = relative_native.find('/', start);
    if (end == std::string_view::npos) end = relative_native.size();
    if (end > start) parts.emplace_back(relative_native.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool IsDotComponent(const std::string& part) {
  return part == "." || part == "..";
}

// Opens the root, then walks (and creates) the first count components as
// directories without following links. The descriptor of the last one, or
// -1 with errno set.
int OpenDirectoryChain(std::string_view root, const std::vector<std::string>& parts, size_t count) {
  Descriptor dir(::open(ToNativePath(root).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return -1;
  for (size_t i = 0; i < count; ++i) {
    const std::string& part = parts[i];
    if (IsDotComponent(part)) {
      errno = EINVAL;
      return -1;
    }
    if (::mkdirat(dir.get(), part.c_str(), 0777) != 0 && errno != EEXIST) return -1;
    int next = ::openat(dir.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) return -1;
    dir.Reset(next);
  }
  return dir.Release();
}

}  // namespace

OutputFile::~OutputFile() {
  Close();
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

bool OutputFile::Write(const void* data, size_t count) {
  return fd_ >= 0 && WriteFileData(fd_, data, count, path_);
}

bool OutputFile::SetModifiedTime(int64_t unix_seconds) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_NOW;
  times[1].tv_sec = static_cast<time_t>(unix_seconds);
  times[1].tv_nsec = 0;
  return fd_ >= 0 && ::futimens(fd_, times) == 0;
}

bool OutputFile::SetMode(unsigned mode) {
  return fd_ >= 0 && ::fchmod(fd_, static_cast<mode_t>(mode & 07777)) == 0;
}

bool OutputFile::Close() {
  if (fd_ < 0) return true;
  FaultPoint("close", path_);
  int rc = ::close(fd_);
  fd_ = -1;
  return rc == 0;
}

OutputTree::OutputTree(std::string_view root) : root_(root) {}

OutputTree::~OutputTree() {
  CloseAll();
}

void OutputTree::CloseAll() {
  int saved = errno;
  for (const auto& [path, fd] : open_) ::close(fd);
  open_.clear();
  if (root_fd_ >= 0) ::close(root_fd_);
  root_fd_ = -1;
  errno = saved;
}

int OutputTree::Directory(const std::vector<std::string>& parts, size_t count) {
  if (count == 0) {
    if (root_fd_ < 0)
      root_fd_ = ::open(ToNativePath(root_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return root_fd_;
  }
  std::string path;
  for (size_t i = 0; i < count; ++i) path += (i == 0 ? "" : "/") + parts[i];
  if (auto found = open_.find(path); found != open_.end()) return found->second;
  const std::string& part = parts[count - 1];
  if (IsDotComponent(part)) {
    errno = EINVAL;
    return -1;
  }
  int parent = Directory(parts, count - 1);
  if (parent < 0) return -1;
  if (::mkdirat(parent, part.c_str(), 0777) != 0 && errno != EEXIST) return -1;
  int fd = ::openat(parent, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  if (open_.size() >= kMostOpenDirectories) {
    // Rarely full: a package's folders are few. Start afresh below the root.
    int saved = errno;
    for (const auto& [p, d] : open_) ::close(d);
    open_.clear();
    errno = saved;
  }
  open_.emplace(std::move(path), fd);
  return fd;
}

OutputFile OutputTree::CreateFile(std::string_view relative) {
  std::vector<std::string> parts = Components(ToNativePath(relative));
  if (parts.empty() || IsDotComponent(parts.back())) {
    errno = EINVAL;
    return OutputFile();
  }
  OutputFile file = CreateOnce(parts, relative);
  // The directories held open count against the process's descriptors;
  // when those run out, they are given back first.
  if (!file.IsOpen() && (errno == EMFILE || errno == ENFILE) && !open_.empty()) {
    CloseAll();
    file = CreateOnce(parts, relative);
  }
  return file;
}

OutputFile OutputTree::CreateOnce(const std::vector<std::string>& parts,
                                  std::string_view relative) {
  OutputFile file;
  int dir = Directory(parts, parts.size() - 1);
  if (dir < 0) return file;
  // A directory held open that was removed since (with the whole tree, as
  // before a new extraction) is found again from the root.
  struct stat info {};
  if (::fstat(dir, &info) != 0 || info.st_nlink == 0) {
    CloseAll();
    dir = Directory(parts, parts.size() - 1);
    if (dir < 0) return file;
  }
  const char* name = parts.back().c_str();
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::openat(dir, name, kFlags, 0666);
  if (fd < 0 && errno == EEXIST) {
    // A name that exists already (a file, a link) is replaced, never opened.
    if (::unlinkat(dir, name, 0) != 0 && errno != ENOENT && errno != EISDIR && errno != EPERM)
      return file;
    fd = ::openat(dir, name, kFlags, 0666);
  }
  if (fd < 0) return file;
  file.fd_ = fd;
  file.path_ = root_ + "/" + std::string(relative);
  return file;
}

OutputFile CreateFileBelow(std::string_view root, std::string_view relative) {
  OutputTree tree(root);
  return tree.CreateFile(relative);
}

bool CreateDirectoriesBelow(std::string_view root, std::string_view relative) {
  std::vector<std::string> parts = Components(ToNativePath(relative));
  Descriptor dir(OpenDirectoryChain(root, parts, parts.size()));
  return dir.get() >= 0;
}

bool SetFileModeAndTimeBelow(std::string_view root, std::string_view relative, unsigned mode,
                             int64_t unix_seconds) {
  std::vector<std::string> parts = Components(ToNativePath(relative));
  if (parts.empty() || IsDotComponent(parts.back())) return false;
  Descriptor dir(OpenDirectoryChain(root, parts, parts.size() - 1));
  if (dir.get() < 0) return false;
  // A path descriptor opens a file of any mode without following a link;
  // its /proc name then reaches the very file for chmod and utimensat.
  Descriptor file(::openat(dir.get(), parts.back().c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  struct stat info;
  if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  std::string self = "/proc/self/fd/" + std::to_string(file.get());
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_NOW;
  times[1].tv_sec = static_cast<time_t>(unix_seconds);
  times[1].tv_nsec = 0;
  bool timed = ::utimensat(AT_FDCWD, self.c_str(), times, 0) == 0;
  bool moded = ::chmod(self.c_str(), static_cast<mode_t>(mode & 07777)) == 0;
  return timed && moded;
}

bool SetDirectoryModeBelow(std::string_view root, std::string_view relative, unsigned mode) {
  std::vector<std::string> parts = Components(ToNativePath(relative));
  if (parts.empty()) return false;
  Descriptor dir(OpenDirectoryChain(root, parts, parts.size()));
  return dir.get() >= 0 && ::fchmod(dir.get(), static_cast<mode_t>(mode & 07777)) == 0;
}

namespace {

// -1 until first read; the program changes its umask only through
// SetProcessUmask, which keeps this in step.
std::atomic<int> cached_umask{-1};

}  // namespace

unsigned ProcessUmask() {
  int cached = cached_umask.load();
  if (cached >= 0) return static_cast<unsigned>(cached);
  // umask(2) can only be read by setting it, which would race with other
  // threads creating files; the kernel reports it in the status file.
  unsigned value = 022;
  if (FILE* f = std::fopen("/proc/self/status", "re")) {
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
      if (std::sscanf(line, "Umask: %o", &value) == 1) break;
    }
    std::fclose(f);
  }
  value &= 0777;
  cached_umask.store(static_cast<int>(value));
  return value;
}

void SetProcessUmask(unsigned mask) {
  ::umask(static_cast<mode_t>(mask & 0777));
  cached_umask.store(static_cast<int>(mask & 0777));
}

int64_t LocalTimeToUnix(int year, int month, int day, int hour, int minute, int second) {
  struct tm t {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return static_cast<int64_t>(::mktime(&t));
}

}  // namespace platform
