#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/program_location.h"

namespace platform {
namespace {

std::mutex& PathLock() {
  static std::mutex lock;
  return lock;
}

std::string& OverridePath() {
  static std::string path;
  return path;
}

// UTF-8 path of the executable, with the directory override applied.
std::string NativeExecutablePath() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  std::string exe = n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
  const char* dir = std::getenv(kProgramDirEnvironment);
  if (dir && *dir) {
    std::string d = dir;
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    size_t slash = exe.find_last_of('/');
    std::string name = slash == std::string::npos ? exe : exe.substr(slash + 1);
    if (name.empty()) name = kClientExecutableName;
    return d + "/" + name;
  }
  return exe;
}

}  // namespace

std::string ProgramPath() {
  {
    std::lock_guard<std::mutex> guard(PathLock());
    if (!OverridePath().empty()) return OverridePath();
  }
  std::string native = NativeExecutablePath();
  if (native.empty() || !IsRepresentableInGbk(native)) return {};
  return FromNativePath(native);
}

void SetProgramPath(const std::string& path) {
  std::lock_guard<std::mutex> guard(PathLock());
  OverridePath() = path;
}

bool CheckProgramPath(std::string& error) {
  {
    std::lock_guard<std::mutex> guard(PathLock());
    if (!OverridePath().empty()) return true;
  }
  std::string native = NativeExecutablePath();
  if (native.empty()) {
    error = "cannot determine the program's own path";
    return false;
  }
  if (!IsRepresentableInGbk(native)) {
    error = "the program directory \"" + native +
            "\" contains characters that code page 936 cannot hold; move the program to a "
            "directory whose name uses only Chinese (GBK) or ASCII characters";
    return false;
  }
  return true;
}

}  // namespace platform
