#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/codepage.h"
#include "platform/descriptor_io.h"
#include "platform/fault_points.h"
#include "platform/file_mode.h"
#include "platform/file_system.h"

namespace platform {

std::string ToNativePath(std::string_view path) {
  return GbkToUtf8(path);
}
std::string FromNativePath(std::string_view native) {
  return Utf8ToGbk(native);
}

int LastErrorCode() {
  return errno;
}
void SetLastErrorCode(int code) {
  errno = code;
}

std::string SystemErrorText(int code) {
  char buffer[256];
  // GNU strerror_r returns a pointer that may or may not be the buffer.
  const char* text = strerror_r(code, buffer, sizeof buffer);
  std::string s = text ? text : "";
  if (s.rfind("Unknown error", 0) == 0) return {};
  return Utf8ToGbk(s);
}

File::File(std::string_view path, OpenMode mode, Durability durability) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::kRead:
      flags |= O_RDONLY;
      break;
    case OpenMode::kReadWrite:
      flags |= O_RDWR;
      break;
    case OpenMode::kCreateTruncate:
      flags |= O_WRONLY | O_CREAT | O_TRUNC;
      break;
    case OpenMode::kCreateAppend:
      flags |= O_WRONLY | O_CREAT | O_APPEND;
      break;
    case OpenMode::kCreateKeep:
      flags |= O_WRONLY | O_CREAT;
      break;
  }
  if (durability == Durability::kWriteThrough) flags |= O_DSYNC;
  if (mode != OpenMode::kRead) written_path_ = path;
  // Opening a FIFO would wait for its other end; never block here.
  flags |= O_NONBLOCK;
  std::string native = ToNativePath(path);
  do {
    fd_ = ::open(native.c_str(), flags, 0666);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ >= 0) {
    // Only regular files are files here: opening a directory for reading
    // succeeds on Linux, and pipes, sockets and devices would block or never
    // end.
    struct stat st {};
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
      int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
      ::close(fd_);
      fd_ = -1;
      errno = err;
    } else {
      ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    }
  }
}

File::~File() {
  Close();
}

File::File(File&& other) noexcept : fd_(other.fd_), written_path_(std::move(other.written_path_)) {
  other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    written_path_ = std::move(other.written_path_);
    other.fd_ = -1;
  }
  return *this;
}

int64_t File::Read(void* buffer, size_t count) {
  if (fd_ < 0) return -1;
  ssize_t n;
  do {
    n = ::read(fd_, buffer, count);
  } while (n < 0 && errno == EINTR);
  return n;
}

bool WriteAllToDescriptor(int fd, const void* data, size_t count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    ssize_t n = ::write(fd, p, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool WriteFileData(int fd, const void* data, size_t count, std::string_view path) {
  FaultPoint("write", path, count);
  size_t allowed = WritableBytes(count);
  if (!WriteAllToDescriptor(fd, data, allowed)) return false;
  if (allowed == count) return true;
  errno = ENOSPC;
  return false;
}

int64_t File::ReadAt(void* buffer, size_t count, int64_t offset) const {
  if (fd_ < 0 || offset < 0) return -1;
  ssize_t n;
  do {
    n = ::pread(fd_, buffer, count, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  return n;
}

File File::Duplicate() const {
  File copy;
  if (fd_ >= 0) copy.fd_ = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  return copy;
}

bool File::Write(const void* data, size_t count) {
  return fd_ >= 0 && WriteFileData(fd_, data, count, written_path_);
}

int64_t File::Seek(int64_t offset) {
  return fd_ < 0 ? -1 : ::lseek(fd_, offset, SEEK_SET);
}
int64_t File::SeekToEnd() {
  return fd_ < 0 ? -1 : ::lseek(fd_, 0, SEEK_END);
}

int64_t File::Size() const {
  struct stat st;
  if (fd_ < 0 || fstat(fd_, &st) != 0) return -1;
  return st.st_size;
}

bool File::Truncate(int64_t size) {
  FaultPoint("truncate", written_path_);
  return fd_ >= 0 && ::ftruncate(fd_, size) == 0;
}
bool File::Sync() {
  FaultPoint("sync", written_path_);
  return fd_ >= 0 && ::fsync(fd_) == 0;
}

bool File::Close() {
  if (fd_ < 0) return true;
  if (!written_path_.empty()) FaultPoint("close", written_path_);
  int rc = ::close(fd_);
  fd_ = -1;
  return rc == 0;
}

PathInfo Stat(std::string_view path) {
  PathInfo info;
  struct stat st;
  if (::stat(ToNativePath(path).c_str(), &st) != 0) return info;
  info.exists = true;
  info.is_directory = S_ISDIR(st.st_mode);
  info.size = st.st_size;
  info.modified_unix = st.st_mtime;
  info.mode = st.st_mode & 07777;
  return info;
}

bool PathExists(std::string_view path) {
  return Stat(path).exists;
}
bool IsSymbolicLink(std::string_view path) {
  struct stat st;
  return ::lstat(ToNativePath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool IsDirectory(std::string_view path) {
  return Stat(path).is_directory;
}

bool MakeDirectory(std::string_view path) {
  return ::mkdir(ToNativePath(path).c_str(), 0777) == 0;
}
bool RemoveDirectory(std::string_view path) {
  FaultPoint("remove", path);
  return ::rmdir(ToNativePath(path).c_str()) == 0;
}
bool RemoveFile(std::string_view path) {
  FaultPoint("remove", path);
  return ::unlink(ToNativePath(path).c_str()) == 0;
}

bool RenamePath(std::string_view from, std::string_view to) {
  FaultPoint("rename", to);
  return ::rename(ToNativePath(from).c_str(), ToNativePath(to).c_str()) == 0;
}

namespace {

// The fnmatch pattern of a Windows-style pattern: only "*" and "?" are
// wildcards there, so brackets and backslashes are matched literally.
std::string GlobFor(std::string_view pattern) {
  std::string glob;
  for (char c : ToNativePath(pattern)) {
    if (c == '[' || c == ']' || c == '\\') glob.push_back('\\');
    glob.push_back(c);
  }
  return glob;
}

bool IsDotName(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

bool RemoveNativeTree(const std::string& native) {
  struct stat st;
  if (::lstat(native.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) {
    FaultPoint("remove", native);
    ::unlink(native.c_str());
    return false;
  }
  // A directory without write or search permission cannot be emptied.
  ::chmod(native.c_str(), (st.st_mode & 07777) | S_IRWXU);
  if (DIR* dir = ::opendir(native.c_str())) {
    std::vector<std::string> subdirectories;
    while (struct dirent* e = ::readdir(dir)) {
      if (IsDotName(e->d_name)) continue;
      std::string child = native + "/" + e->d_name;
      struct stat cs;
      if (::lstat(child.c_str(), &cs) == 0 && S_ISDIR(cs.st_mode)) {
        subdirectories.push_back(std::move(child));
      } else {
        FaultPoint("remove", child);
        ::unlink(child.c_str());
      }
    }
    ::closedir(dir);
    for (const auto& sub : subdirectories) RemoveNativeTree(sub);
  }
  FaultPoint("remove", native);
  return ::rmdir(native.c_str()) == 0;
}

}  // namespace

bool RemoveTree(std::string_view directory) {
  return RemoveNativeTree(ToNativePath(directory));
}

bool ListDirectory(std::string_view directory, std::string_view pattern,
                   std::vector<DirectoryEntry>& entries) {
  std::string native = ToNativePath(directory.empty() ? std::string_view(".") : directory);
  DIR* dir = ::opendir(native.c_str());
  if (!dir) return false;
  // "*.*" matches names without a dot too, as the Windows enumeration does.
  std::string glob = (pattern == "*.*" || pattern.empty()) ? std::string("*") : GlobFor(pattern);
  while (struct dirent* e = ::readdir(dir)) {
    if (::fnmatch(glob.c_str(), e->d_name, FNM_CASEFOLD) != 0) continue;
    DirectoryEntry entry;
    entry.name = FromNativePath(e->d_name);
    bool is_dir = e->d_type == DT_DIR;
    bool is_link = e->d_type == DT_LNK;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st;
      std::string full = native + "/" + e->d_name;
      is_dir = ::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      if (e->d_type == DT_UNKNOWN) is_link = ::lstat(full.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    }
    entry.is_directory = is_dir;
    entry.is_link = is_link;
    entries.push_back(std::move(entry));
  }
  ::closedir(dir);
  return true;
}

bool ReplaceFileAtomically(std::string_view path, const void* data, size_t size) {
  static std::atomic<unsigned> counter{0};
  if (IsWriteProtected(path)) {
    errno = EACCES;
    return false;
  }
  std::string native = ToNativePath(path);
  std::string temp = native + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = WriteFileData(fd, data, size, temp);
  FaultPoint("sync", temp);
  if (ok && ::fsync(fd) != 0) ok = false;
  int saved = errno;
  FaultPoint("close", temp);
  ::close(fd);
  FaultPoint("rename", native);
  if (ok && ::rename(temp.c_str(), native.c_str()) != 0) {
    saved = errno;
    ok = false;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    errno = saved;
    return false;
  }
  // Make the rename itself durable.
  size_t slash = native.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash);
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

namespace {

// The writer's process id of a name "TARGET.tmpPID-N", or 0.
pid_t ReplacementWriter(const std::string& name) {
  size_t at = name.rfind(".tmp");
  if (at == std::string::npos || at == 0) return 0;
  size_t dash = name.find('-', at);
  if (dash == std::string::npos || dash == at + 4 || dash + 1 == name.size()) return 0;
  for (size_t i = at + 4; i < name.size(); ++i) {
    if (i != dash && (name[i] < '0' || name[i] > '9')) return 0;
  }
  return static_cast<pid_t>(std::strtol(name.c_str() + at + 4, nullptr, 10));
}

}  // namespace

void RemoveAbandonedReplacements(std::string_view directory) {
  std::string native = ToNativePath(directory);
  DIR* dir = ::opendir(native.c_str());
  if (!dir) return;
  std::vector<std::string> abandoned;
  while (struct dirent* e = ::readdir(dir)) {
    pid_t writer = ReplacementWriter(e->d_name);
    if (writer <= 0) continue;
    if (::kill(writer, 0) == 0 || errno == EPERM) continue;  // still running
    abandoned.push_back(native + "/" + e->d_name);
  }
  ::closedir(dir);
  for (const std::string& path : abandoned) {
    FaultPoint("remove", path);
    ::unlink(path.c_str());
  }
}

std::string TemporaryDirectory() {
  const char* t = std::getenv("TMPDIR");
  return (t && *t) ? t : "/tmp";
}

}  // namespace platform
