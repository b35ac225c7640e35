#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/descriptor_io.h"
#include "platform/file_system.h"
#include "platform/tree_reader.h"

namespace platform {

namespace {

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

// Opens the directory name below dir without following a link. Its
// descriptor, or -1 with kind saying what stood in the way.
int OpenDirectoryBelow(int dir, const std::string& name, NodeKind& kind) {
  struct stat st {};
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    kind = KindOfError(errno);
    return -1;
  }
  if (!S_ISDIR(st.st_mode)) {
    kind = S_ISLNK(st.st_mode) ? NodeKind::kLink : NodeKind::kOther;
    return -1;
  }
  // Swapped for a link since the look above, the open fails.
  int fd = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) kind = errno == EACCES ? NodeKind::kUnreadable : NodeKind::kLink;
  return fd;
}

// Walks parts as directories from dir; the last one's descriptor, or -1.
int OpenDirectories(int dir, const std::vector<std::string>& parts, NodeKind& kind) {
  Descriptor current(::dup(dir));
  if (current.get() < 0) {
    kind = NodeKind::kUnreadable;
    return -1;
  }
  for (const std::string& part : parts) {
    int next = OpenDirectoryBelow(current.get(), part, kind);
    if (next < 0) return -1;
    current.Reset(next);
  }
  return current.Release();
}

bool HasDotComponent(const std::vector<std::string>& parts) {
  for (const std::string& part : parts) {
    if (part == "." || part == "..") return true;
  }
  return false;
}

}  // namespace

TreeReader::TreeReader(std::string_view root) {
  root_fd_ = ::open(ToNativePath(root).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  root_error_ = root_fd_ < 0 ? errno : 0;
}

TreeReader::~TreeReader() {
  CloseChain(0);
  if (root_fd_ >= 0) ::close(root_fd_);
}

void TreeReader::CloseChain(size_t keep) {
  while (chain_fds_.size() > keep) {
    ::close(chain_fds_.back());
    chain_fds_.pop_back();
    chain_names_.pop_back();
  }
  if (deep_fd_ >= 0) ::close(deep_fd_);
  deep_fd_ = -1;
}

int TreeReader::ParentOf(const std::vector<std::string>& parts, NodeKind& kind) {
  if (root_fd_ < 0) {
    kind = KindOfError(root_error_);
    return -1;
  }
  const size_t needed = parts.size() - 1;
  const size_t chained = std::min(needed, kChainDepth);
  size_t common = 0;
  while (common < chained && common < chain_names_.size() && chain_names_[common] == parts[common])
    ++common;
  CloseChain(common);
  while (chain_fds_.size() < chained) {
    int dir = chain_fds_.empty() ? root_fd_ : chain_fds_.back();
    int fd = OpenDirectoryBelow(dir, parts[chain_fds_.size()], kind);
    if (fd < 0) return -1;
    chain_names_.push_back(parts[chain_fds_.size()]);
    chain_fds_.push_back(fd);
  }
  int dir = chain_fds_.empty() ? root_fd_ : chain_fds_.back();
  if (needed == chained) return dir;
  std::vector<std::string> rest(parts.begin() + static_cast<long>(chained),
                                parts.begin() + static_cast<long>(needed));
  deep_fd_ = OpenDirectories(dir, rest, kind);
  return deep_fd_;
}

NodeInfo TreeReader::Inspect(std::string_view relative) {
  NodeInfo info;
  std::vector<std::string> parts = Components(ToNativePath(relative));
  if (HasDotComponent(parts)) {
    info.kind = NodeKind::kOther;
    return info;
  }
  if (parts.empty()) {
    info.kind = root_fd_ >= 0 ? NodeKind::kDirectory : KindOfError(root_error_);
    return info;
  }
  int dir = ParentOf(parts, info.kind);
  if (dir < 0) return info;
  struct stat st {};
  if (::fstatat(dir, parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    info.kind = KindOfError(errno);
    return info;
  }
  info.kind = KindOf(st);
  if (info.kind == NodeKind::kFile) info.size = static_cast<uint64_t>(st.st_size);
  return info;
}

bool TreeReader::ReadFile(std::string_view relative,
                          const std::function<void(const uint8_t*, size_t)>& sink) {
  std::vector<std::string> parts = Components(ToNativePath(relative));
  if (parts.empty() || HasDotComponent(parts)) return false;
  NodeKind kind = NodeKind::kMissing;
  int dir = ParentOf(parts, kind);
  if (dir < 0) return false;
  // O_NONBLOCK: a pipe put there must not hold the reader up; the type is
  // checked right after.
  Descriptor file(
      ::openat(dir, parts.back().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
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
  Descriptor root_fd(::open(ToNativePath(root).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
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
    Descriptor dir(OpenDirectories(root_fd.get(), parts, kind));
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
