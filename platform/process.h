// Child processes: start, terminate, ask whether still running, image path.
#pragma once

#include <string>
#include <vector>

namespace platform {

// A started process; owned by the caller. Destroying the handle does not end
// the process; it is reaped when it ends, now or later.
class ProcessHandle {
 public:
  ProcessHandle() = default;
  explicit ProcessHandle(int pid) : pid_(pid) {}
  ~ProcessHandle();
  ProcessHandle(ProcessHandle&& other) noexcept;
  ProcessHandle& operator=(ProcessHandle&& other) noexcept;
  ProcessHandle(const ProcessHandle&) = delete;
  ProcessHandle& operator=(const ProcessHandle&) = delete;

  bool valid() const { return pid_ > 0; }
  int pid() const { return pid_; }
  // True while the process has not ended (never blocks).
  bool IsRunning();
  // Ends the process at once (SIGKILL); true when the signal was delivered
  // or the process had already ended.
  bool Terminate();
  // Waits up to timeout_ms (negative: without limit); true when it ended.
  bool Wait(int timeout_ms);
  // Exit status once ended (-1 while running or when killed by a signal).
  int exit_code() const { return exit_code_; }

 private:
  void Reap(bool block);
  void Forget();
  int pid_ = 0;
  bool ended_ = false;
  int exit_code_ = -1;
};

// Starts program (GBK path) with the given arguments (GBK texts, converted
// for the OS), working directory working_dir (empty: the program's own
// directory), no inherited descriptors beyond standard ones. An invalid
// handle when the start failed.
ProcessHandle StartProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& working_dir = {});

// Splits a Windows-style command line into arguments (blanks separate,
// double quotes group, backslashes before a quote escape it).
std::vector<std::string> SplitCommandLine(const std::string& command_line);

// Full path (GBK) of the executable of a running process; false when it
// cannot be read.
bool ProcessImagePath(int pid, std::string& path);

// True when the running process pid runs program (GBK path): its
// executable is program, or, for a script, its interpreter was started with
// program as the script.
bool ProcessRunsProgram(int pid, const std::string& program);

}  // namespace platform
