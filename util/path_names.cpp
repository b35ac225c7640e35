#include "util/path_names.h"

#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/program_location.h"

using platform::kPathSeparator;

std::string GetProgramDirectory() {
  return GetParentDirectory(platform::ProgramPath());
}

std::string GetParentDirectory(const std::string& path) {
  size_t slash = path.rfind(kPathSeparator);
  if (slash == std::string::npos) return path;
  if (slash == 0) return std::string(1, kPathSeparator);
  return path.substr(0, slash);
}

std::string JoinPath(const std::string& directory, const std::string& name) {
  size_t end = directory.find_last_not_of(kPathSeparator);
  size_t start = name.find_first_not_of(kPathSeparator);
  std::string tail = start == std::string::npos ? std::string() : name.substr(start);
  if (end == std::string::npos) {
    // Only separators: the root keeps one, an empty directory adds nothing.
    if (directory.empty()) return name;
    return std::string(1, kPathSeparator) + tail;
  }
  std::string result = directory.substr(0, end + 1);
  result += kPathSeparator;
  result += tail;
  return result;
}

std::string GetFileNameFromPath(const std::string& path) {
  size_t slash = path.rfind(kPathSeparator);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string GetFileTitleWithoutExtension(const std::string& path) {
  std::string name = GetFileNameFromPath(path);
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return name;
  return name.substr(0, dot);
}

std::string ForwardSlashes(const std::string& text) {
  std::string out = text;
  for (size_t i = 0; i < out.size(); ++i) {
    auto c = static_cast<unsigned char>(out[i]);
    if (platform::IsGbkLeadByte(c) && i + 1 < out.size())
      ++i;
    else if (c == '\\')
      out[i] = '/';
  }
  return out;
}
