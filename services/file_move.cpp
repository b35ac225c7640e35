#include "services/file_move.h"

#include <cerrno>
#include <vector>

#include "platform/file_system.h"

namespace {

bool CopyFileContents(const std::string& source, const std::string& target) {
  platform::File in(source, platform::OpenMode::kRead);
  platform::File out(target, platform::OpenMode::kCreateTruncate);
  if (!in.IsOpen() || !out.IsOpen()) return false;
  std::vector<char> buffer(1 << 20);
  for (;;) {
    int64_t got = in.Read(buffer.data(), buffer.size());
    if (got < 0) return false;
    if (got == 0) break;
    if (!out.Write(buffer.data(), static_cast<size_t>(got))) return false;
  }
  return out.Sync() && out.Close();
}

}  // namespace

bool MoveFileReplacing(const std::string& source, const std::string& target) {
  if (source.empty() || target.empty() || !platform::PathExists(source)) return false;
  if (platform::RenamePath(source, target)) return true;
  if (platform::LastErrorCode() != EXDEV || platform::IsDirectory(source)) return false;
  const std::string copy = target + ".moving";
  if (!CopyFileContents(source, copy) || !platform::RenamePath(copy, target)) {
    platform::RemoveFile(copy);
    return false;
  }
  return platform::RemoveFile(source);
}
