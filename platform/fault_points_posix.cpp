#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/descriptor_io.h"
#include "platform/fault_points.h"

namespace platform {

namespace {

struct FaultSettings {
  bool armed = false;
  int count_fd = -1;
  uint64_t kill_at = 0;
  bool limit_writes = false;
  std::atomic<uint64_t> points{0};
  std::atomic<int64_t> bytes_left{0};
};

uint64_t NumberFromEnvironment(const char* name, bool& present) {
  const char* text = std::getenv(name);
  present = text != nullptr && *text != '\0';
  return present ? std::strtoull(text, nullptr, 10) : 0;
}

FaultSettings& Settings() {
  static FaultSettings* settings = [] {
    auto* s = new FaultSettings;  // never destroyed: points pass until exit
    if (const char* file = std::getenv(kCountPointsEnvironment); file && *file) {
      s->count_fd = ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    }
    bool present = false;
    s->kill_at = NumberFromEnvironment(kKillAtPointEnvironment, present);
    s->bytes_left = static_cast<int64_t>(NumberFromEnvironment(kFailWritesAfterEnvironment,
                                                               s->limit_writes));
    s->armed = s->count_fd >= 0 || s->kill_at > 0;
    return s;
  }();
  return *settings;
}

}  // namespace

void FaultPoint(const char* kind, std::string_view path, size_t bytes) {
  FaultSettings& s = Settings();
  if (!s.armed) return;
  uint64_t n = ++s.points;
  if (s.count_fd >= 0) {
    // Written before a kill, so the last line names the point that killed.
    std::string line = std::to_string(n) + " " + kind + " " + std::to_string(bytes) + " ";
    line.append(path);
    line.push_back('\n');
    (void)WriteAllToDescriptor(s.count_fd, line.data(), line.size());
  }
  if (n == s.kill_at) ::kill(::getpid(), SIGKILL);
}

size_t WritableBytes(size_t count) {
  FaultSettings& s = Settings();
  if (!s.limit_writes) return count;
  int64_t before = s.bytes_left.fetch_sub(static_cast<int64_t>(count));
  if (before <= 0) return 0;
  return before >= static_cast<int64_t>(count) ? count : static_cast<size_t>(before);
}

}  // namespace platform
