#include "services/page_paths.h"

#include "util/path_names.h"

std::string ResolvePagePath(const std::string& text) {
  std::string path = ForwardSlashes(text);
  // No GBK trail byte is a ':' (they start at 0x40), so this is a drive.
  if (path.size() >= 2 && path[1] == ':') {
    path.erase(0, 2);
    return path.empty() || path[0] != '/' ? "/" + path : path;
  }
  if (!path.empty() && path[0] == '/') return path;
  return JoinPath(GetProgramDirectory(), path);
}
