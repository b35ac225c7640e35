#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/file_system.h"
#include "platform/instance_lock.h"

namespace platform {
namespace {

// The runtime directory is private to the user and cleared at log-out; the
// shared temporary directory needs the user id in the name, so that two users
// of one machine do not lock each other out.
std::string LockFilePath(const std::string& name) {
  std::string file = ToNativePath(name);
  for (char& c : file) {
    if (c == '/') c = '_';
  }
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    struct stat st;
    if (::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode))
      return std::string(runtime) + "/" + file + ".lock";
  }
  return TemporaryDirectory() + "/" + file + "-" + std::to_string(::getuid()) + ".lock";
}

}  // namespace

InstanceLock::InstanceLock(std::string name) : lock_(LockFilePath(name)) {}

}  // namespace platform
