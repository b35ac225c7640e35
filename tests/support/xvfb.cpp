#include "tests/support/xvfb.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace testing_support {

void XvfbEnvironment::SetUp() {
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  pid_ = ::fork();
  ASSERT_GE(pid_, 0);
  if (pid_ == 0) {
    ::close(pipe_fds[0]);
    // A test program killed on a timeout takes its server along.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    std::string fd = std::to_string(pipe_fds[1]);
    // The server picks a free display number and writes it to the pipe.
    ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten",
             "tcp", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  std::string number;
  char c;
  while (::read(pipe_fds[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(pipe_fds[0]);
  ASSERT_FALSE(number.empty()) << "Xvfb did not start; scripts/setup installs it (package xvfb)";
  display_ = ":" + number;
  ::setenv("DISPLAY", display_.c_str(), 1);
  ::unsetenv("WAYLAND_DISPLAY");
}

void XvfbEnvironment::TearDown() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
}

}  // namespace testing_support
