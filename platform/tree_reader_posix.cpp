#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/tree_reader.h"

namespace platform {

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

std::vector<std::string> Components(const std::string& native) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= native.size()) {
    size_t end = native.find('/', start);
    if (end == std::string::npos) end = native.size();
    if (end > start) parts.push_back(native.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

NodeKind KindOf(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return NodeKind::kFile;
  if (S_ISDIR(st.st_mode)) return NodeKind::kDirectory;
  if (S_ISLNK(st.st_mode)) return NodeKind::kLink;
  return NodeKind::kOther;
}

NodeKind KindOfError(int error) {
  if (error == ENOENT) return NodeKind::kMissing;
  if (error == EACCES) return NodeKind::kUnreadable;
  return NodeKind::kOther;
}

// Walks the first count parts as directories without following links. The
// directory's descriptor, or -1 with kind saying what stood in the way.
int OpenDirectories(int root_fd, const std::vector<std::string>& parts, size_t count,
                    NodeKind& kind) {
  Descriptor dir(::dup(root_fd));
  if (dir.get() < 0) {
    kind = NodeKind::kUnreadable;
    return -1;
  }
  for (size_t i = 0; i < count; ++i) {
    struct stat st {};
    if (::fstatat(dir.get(), parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      kind = KindOfError(errno);
      return -1;
    }
    if (!S_ISDIR(st.st_mode)) {
      kind = S_ISLNK(st.st_mode) ? NodeKind::kLink : NodeKind::kOther;
      return -1;
    }
    // Swapped for a link since the look above, the open fails.
    int next =
        ::openat(dir.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      kind = errno == EACCES ? NodeKind::kUnreadable : NodeKind::kLink;
      return -1;
    }
    dir.Reset(next);
  }
  return dir.Release();
}

bool HasDotComponent(const std::vector<std::string>& parts) {
  for (const std::string& part : parts) {
    if (part == "." || part == "..") return true;
  }
  return false;
}

int OpenRoot(std::string_view root) {
  return ::open(ToNativePath(root).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

}  // namespace

NodeInfo InspectBelow(std::string_view root, std::string_view relative) {
  NodeInfo info;
  std::vector<std::string> parts = Components(ToNativePath(relative));
  if (HasDotComponent(parts)) {
    info.kind = NodeKind::kOther;
    return info;
  }
  Descriptor root_fd(OpenRoot(root));
  if (root_fd.get() < 0) {
    info.kind = KindOfError(errno);
    return info;
  }
  if (parts.empty()) {
    info.kind = NodeKind::kDirectory;
    return info;
  }
  Descriptor dir(OpenDirectories(root_fd.get(), parts, parts.size() - 1, info.kind));
  if (dir.get() < 0) return info;
  struct stat st {};
  if (::fstatat(dir.get(), parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    info.kind = KindOfError(errno);
    return info;
  }
  info.kind = KindOf(st);
  if (info.kind == NodeKind::kFile) info.size = static_cast<uint64_t>(st.st_size);
  return info;
}

bool ReadFileBelow(std::string_view root, std::string_view relative,
                   const std::function<void(const uint8_t*, size_t)>& sink) {
  std::vector<std::string> parts = Components(ToNativePath(relative));
  if (parts.empty() || HasDotComponent(parts)) return false;
  Descriptor root_fd(OpenRoot(root));
  if (root_fd.get() < 0) return false;
  NodeKind kind = NodeKind::kMissing;
  Descriptor dir(OpenDirectories(root_fd.get(), parts, parts.size() - 1, kind));
  if (dir.get() < 0) return false;
  // O_NONBLOCK: a pipe put there must not hold the reader up; the type is
  // checked right after.
  Descriptor file(
      ::openat(dir.get(), parts.back().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (file.get() < 0 || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::unique_ptr<uint8_t[]> block(new uint8_t[kReadBlockSize]);
  for (;;) {
    ssize_t n = ::read(file.get(), block.get(), kReadBlockSize);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    sink(block.get(), static_cast<size_t>(n));
  }
}

bool WalkBelow(std::string_view root,
               const std::function<void(const std::string& relative, NodeKind kind)>& visit) {
  Descriptor root_fd(OpenRoot(root));
  if (root_fd.get() < 0) return false;
  // Native relative paths of the directories still to read; a directory is
  // opened afresh from the root, component by component, so that one
  // swapped for a link meanwhile is never entered.
  std::vector<std::string> pending = {std::string()};
  while (!pending.empty()) {
    std::string directory = std::move(pending.back());
    pending.pop_back();
    std::vector<std::string> parts = Components(directory);
    NodeKind kind = NodeKind::kMissing;
    Descriptor dir(OpenDirectories(root_fd.get(), parts, parts.size(), kind));
    DIR* stream = dir.get() >= 0 ? ::fdopendir(dir.get()) : nullptr;
    if (stream == nullptr) {
      if (!directory.empty()) visit(FromNativePath(directory), NodeKind::kUnreadable);
      continue;
    }
    dir.Release();  // the stream owns it now
    while (struct dirent* e = ::readdir(stream)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      std::string child = directory.empty() ? e->d_name : directory + "/" + e->d_name;
      struct stat st {};
      NodeKind child_kind = ::fstatat(::dirfd(stream), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0
                                ? KindOf(st)
                                : KindOfError(errno);
      if (child_kind == NodeKind::kMissing) continue;  // gone since it was listed
      visit(FromNativePath(child), child_kind);
      if (child_kind == NodeKind::kDirectory) pending.push_back(std::move(child));
    }
    ::closedir(stream);
  }
  return true;
}

}  // namespace platform
