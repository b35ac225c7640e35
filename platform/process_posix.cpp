#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <thread>

#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/process.h"

extern char** environ;

namespace platform {
namespace {

struct FileActions {
  FileActions() { ok = posix_spawn_file_actions_init(&actions) == 0; }
  ~FileActions() {
    if (ok) posix_spawn_file_actions_destroy(&actions);
  }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  posix_spawn_file_actions_t actions;
  bool ok;
};

struct SpawnAttributes {
  SpawnAttributes() { ok = posix_spawnattr_init(&attr) == 0; }
  ~SpawnAttributes() {
    if (ok) posix_spawnattr_destroy(&attr);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t attr;
  bool ok;
};

std::string ParentDirectory(const std::string& native) {
  size_t slash = native.find_last_of('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : native.substr(0, slash);
}

// A child whose handle goes away while it still runs is waited for on a
// thread of its own, so that it does not linger as a zombie once it ends.
void ReapInBackground(pid_t pid) {
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

}  // namespace

void ProcessHandle::Forget() {
  if (!valid() || ended_) return;
  Reap(false);
  if (!ended_) ReapInBackground(pid_);
}

ProcessHandle::~ProcessHandle() {
  Forget();
}

ProcessHandle::ProcessHandle(ProcessHandle&& other) noexcept
    : pid_(other.pid_), ended_(other.ended_), exit_code_(other.exit_code_) {
  other.pid_ = 0;
  other.ended_ = false;
  other.exit_code_ = -1;
}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
  if (this != &other) {
    Forget();
    pid_ = other.pid_;
    ended_ = other.ended_;
    exit_code_ = other.exit_code_;
    other.pid_ = 0;
    other.ended_ = false;
    other.exit_code_ = -1;
  }
  return *this;
}

void ProcessHandle::Reap(bool block) {
  if (!valid() || ended_) return;
  int status = 0;
  pid_t rc;
  do {
    rc = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (rc < 0 && errno == EINTR);
  if (rc == pid_) {
    ended_ = true;
    exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  } else if (rc < 0) {
    // Not (or no longer) our child: someone else reaped it.
    ended_ = true;
  }
}

bool ProcessHandle::IsRunning() {
  Reap(false);
  return valid() && !ended_;
}

bool ProcessHandle::Terminate() {
  if (!valid()) return false;
  // Once reaped, the pid may belong to another process by now.
  if (ended_) return true;
  if (::kill(pid_, SIGKILL) == 0) return true;
  return errno == ESRCH;
}

bool ProcessHandle::Wait(int timeout_ms) {
  if (!valid()) return false;
  if (timeout_ms < 0) {
    Reap(true);
    return ended_;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    Reap(false);
    if (ended_) return true;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        std::chrono::milliseconds(2), deadline - now));
  }
}

ProcessHandle StartProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& working_dir) {
  if (program.empty()) {
    SetLastErrorCode(ENOENT);
    return {};
  }
  std::string native = ToNativePath(program);
  // The child changes directory before it runs the program, so a relative
  // path has to be made absolute first.
  if (native.front() != '/') {
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd)) return {};
    native = std::string(cwd) + "/" + native;
  }
  std::string dir = working_dir.empty() ? ParentDirectory(native) : ToNativePath(working_dir);

  std::vector<std::string> argv_text;
  argv_text.reserve(args.size() + 1);
  argv_text.push_back(native);
  for (const std::string& arg : args) argv_text.push_back(GbkToUtf8(arg));
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  FileActions actions;
  SpawnAttributes attributes;
  if (!actions.ok || !attributes.ok) return {};
  int rc = 0;
  if (!dir.empty()) rc = posix_spawn_file_actions_addchdir_np(&actions.actions, dir.c_str());
  // Only the standard descriptors are inherited.
  if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions.actions, 3);
  // Default start-up settings: no blocked signals, no ignored ones of ours.
  sigset_t mask, defaults;
  sigemptyset(&mask);
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGCHLD, SIGUSR1, SIGUSR2}) {
    sigaddset(&defaults, sig);
  }
  if (rc == 0) rc = posix_spawnattr_setsigmask(&attributes.attr, &mask);
  if (rc == 0) rc = posix_spawnattr_setsigdefault(&attributes.attr, &defaults);
  if (rc == 0) {
    rc = posix_spawnattr_setflags(&attributes.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  pid_t pid = 0;
  if (rc == 0)
    rc =
        posix_spawn(&pid, native.c_str(), &actions.actions, &attributes.attr, argv.data(), environ);
  if (rc != 0) {
    SetLastErrorCode(rc);
    return {};
  }
  return ProcessHandle(pid);
}

std::vector<std::string> SplitCommandLine(const std::string& command_line) {
  std::vector<std::string> args;
  std::string current;
  bool in_argument = false;
  bool in_quotes = false;
  const size_t n = command_line.size();
  size_t i = 0;
  while (i < n) {
    char c = command_line[i];
    if ((c == ' ' || c == '\t') && !in_quotes) {
      if (in_argument) args.push_back(std::move(current));
      current.clear();
      in_argument = false;
      ++i;
      continue;
    }
    in_argument = true;
    if (IsGbkLeadByte(static_cast<unsigned char>(c)) && i + 1 < n) {
      // The second byte may be a backslash; it escapes nothing.
      current.append(command_line, i, 2);
      i += 2;
    } else if (c == '\\') {
      size_t j = i;
      while (j < n && command_line[j] == '\\') ++j;
      size_t count = j - i;
      if (j < n && command_line[j] == '"') {
        // 2n backslashes and a quote: n backslashes, the quote delimits;
        // 2n+1: n backslashes and a literal quote.
        current.append(count / 2, '\\');
        if (count % 2 == 1) {
          current += '"';
          ++j;
        }
      } else {
        current.append(count, '\\');
      }
      i = j;
    } else if (c == '"') {
      if (in_quotes && i + 1 < n && command_line[i + 1] == '"') {
        current += '"';  // "" inside quotes is a literal quote
        i += 2;
      } else {
        in_quotes = !in_quotes;
        ++i;
      }
    } else {
      current += c;
      ++i;
    }
  }
  if (in_argument) args.push_back(std::move(current));
  return args;
}

bool ProcessImagePath(int pid, std::string& path) {
  path.clear();
  if (pid <= 0) return false;
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  std::string buffer(4096, '\0');
  ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size());
  if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return false;
  buffer.resize(static_cast<size_t>(n));
  path = FromNativePath(buffer);
  return true;
}

}  // namespace platform

namespace platform {

bool ProcessRunsProgram(int pid, const std::string& program) {
  std::string image;
  if (!ProcessImagePath(pid, image)) return false;
  if (GbkEqualsNoCase(image, program)) return true;
  // A script's image is its interpreter; the script is the first argument
  // of the command line that names an existing file ("sh -e script ...").
  std::string cmdline;
  {
    std::string path = "/proc/" + std::to_string(pid) + "/cmdline";
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    char buffer[4096];
    size_t n = std::fread(buffer, 1, sizeof buffer, file);
    std::fclose(file);
    cmdline.assign(buffer, n);
  }
  std::string native = ToNativePath(program);
  size_t start = cmdline.find('\0');  // skip the interpreter itself
  while (start != std::string::npos && start + 1 < cmdline.size()) {
    size_t end = cmdline.find('\0', start + 1);
    std::string argument = cmdline.substr(start + 1, end == std::string::npos ? end : end - start - 1);
    if (!argument.empty() && argument[0] != '-') return argument == native;
    start = end;
  }
  return false;
}

}  // namespace platform
