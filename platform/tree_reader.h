// Looking at and reading what lies below a directory without ever leaving
// it: every component below the root is taken as it is, a symbolic link is
// reported as a link and never followed, so names from a file the user can
// edit (a book's manifest) cannot lead the program elsewhere. The root
// itself is trusted and may lie below links.
//
// Paths are GBK with "/" between components, as everywhere in this layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class NodeKind {
  kMissing,     // nothing there
  kFile,        // a regular file
  kDirectory,   // a directory
  kLink,        // a symbolic link, at the end or on the way
  kOther,       // a device, pipe or socket, or a file where a directory should be
  kUnreadable,  // there, but a directory on the way cannot be searched
};

struct NodeInfo {
  NodeKind kind = NodeKind::kMissing;
  uint64_t size = 0;  // of a regular file
};

// Looks at entries below one root. The directories on the way to the last
// entry stay open, so that entries listed folder by folder (as a package
// lists them) cost one look each. Not for use by several threads at once.
class TreeReader {
 public:
  explicit TreeReader(std::string_view root);
  ~TreeReader();
  TreeReader(const TreeReader&) = delete;
  TreeReader& operator=(const TreeReader&) = delete;

  // What root/relative is. relative must not hold "." or ".." components
  // (kOther is reported for them).
  NodeInfo Inspect(std::string_view relative);

  // Hands the content of the regular file root/relative to sink in blocks
  // of at most kReadBlockSize bytes. False when it is no regular file
  // reached without links, or a read fails.
  static constexpr size_t kReadBlockSize = 64 * 1024;
  [[nodiscard]] bool ReadFile(std::string_view relative,
                              const std::function<void(const uint8_t*, size_t)>& sink);

 private:
  // The directory holding the last of parts, opened along the way without
  // following links (borrowed; -1 with kind saying what stood in the way).
  int ParentOf(const std::vector<std::string>& parts, NodeKind& kind);
  void CloseChain(size_t keep);

  int root_fd_ = -1;
  int root_error_ = 0;
  // The directories last opened below the root and their descriptors, one
  // per level, at most kChainDepth deep; deeper ones are opened each time.
  static constexpr size_t kChainDepth = 32;
  std::vector<std::string> chain_names_;
  std::vector<int> chain_fds_;
  int deep_fd_ = -1;
};

// Calls visit for everything below root, each directory's entries after
// the directory itself, with the path relative to root. Links are reported
// and not entered. A directory that cannot be read is reported once more,
// as kUnreadable, and not entered. False when root itself cannot be read.
bool WalkBelow(std::string_view root,
               const std::function<void(const std::string& relative, NodeKind kind)>& visit);

}  // namespace platform
