#include "platform/instance_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/sandbox.h"

namespace {

using platform::InstanceLock;
using Result = InstanceLock::Result;

class InstanceLockTest : public testing_support::Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    const char* old = getenv("XDG_RUNTIME_DIR");
    had_runtime_ = old != nullptr;
    if (old) old_runtime_ = old;
    setenv("XDG_RUNTIME_DIR", dir().c_str(), 1);
  }
  void TearDown() override {
    if (had_runtime_) {
      setenv("XDG_RUNTIME_DIR", old_runtime_.c_str(), 1);
    } else {
      unsetenv("XDG_RUNTIME_DIR");
    }
    Sandbox::TearDown();
  }

  // What a fresh lock object in a child process gets.
  static Result AcquireInChild(const std::string& name) {
    pid_t pid = fork();
    if (pid == 0) {
      InstanceLock other(name);
      _exit(static_cast<int>(other.Acquire()));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? static_cast<Result>(WEXITSTATUS(status)) : Result::kFailed;
  }

 private:
  bool had_runtime_ = false;
  std::string old_runtime_;
};

TEST_F(InstanceLockTest, SecondHolderSeesTheLockUntilReleased) {
  InstanceLock first("{tomerack}");
  EXPECT_EQ(first.path(), Path("{tomerack}.lock"));
  ASSERT_EQ(first.Acquire(), Result::kAcquired);
  EXPECT_TRUE(first.held());
  EXPECT_EQ(first.Acquire(), Result::kAcquired);  // taking it again is harmless

  InstanceLock second("{tomerack}");
  EXPECT_EQ(second.Acquire(), Result::kAlreadyHeld);
  EXPECT_FALSE(second.held());
  EXPECT_EQ(AcquireInChild("{tomerack}"), Result::kAlreadyHeld);
  EXPECT_EQ(AcquireInChild("{other}"), Result::kAcquired);

  first.Release();
  EXPECT_FALSE(first.held());
  EXPECT_EQ(second.Acquire(), Result::kAcquired);
  EXPECT_EQ(AcquireInChild("{tomerack}"), Result::kAlreadyHeld);
}

TEST_F(InstanceLockTest, LockEndsWithAKilledHolder) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    InstanceLock lock("{tomerack}");
    char ok = lock.Acquire() == Result::kAcquired ? 'y' : 'n';
    (void)!write(ready[1], &ok, 1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  close(ready[0]);
  ASSERT_EQ(ok, 'y');

  InstanceLock lock("{tomerack}");
  EXPECT_EQ(lock.Acquire(), Result::kAlreadyHeld);
  kill(holder, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(holder, &status, 0), holder);
  EXPECT_EQ(lock.Acquire(), Result::kAcquired);
}

// A program started by the holder must not keep the lock after the holder
// has let it go.
TEST_F(InstanceLockTest, StartedProgramsDoNotInheritTheLock) {
  InstanceLock lock("{tomerack}");
  ASSERT_EQ(lock.Acquire(), Result::kAcquired);
  // The pipe's end closes on exec, so end of input means the child runs
  // the new program.
  int exec_done[2];
  ASSERT_EQ(pipe2(exec_done, O_CLOEXEC), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(exec_done[1]);
  char byte;
  ASSERT_EQ(read(exec_done[0], &byte, 1), 0);
  close(exec_done[0]);
  lock.Release();
  EXPECT_EQ(AcquireInChild("{tomerack}"), Result::kAcquired);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

TEST_F(InstanceLockTest, WithoutRuntimeDirectoryUsesTemporaryDirectoryPerUser) {
  unsetenv("XDG_RUNTIME_DIR");
  const char* old_tmp = getenv("TMPDIR");
  std::string saved = old_tmp ? old_tmp : "";
  setenv("TMPDIR", dir().c_str(), 1);
  InstanceLock lock("{tomerack}");
  EXPECT_EQ(lock.path(), Path("{tomerack}-" + std::to_string(getuid()) + ".lock"));
  EXPECT_EQ(lock.Acquire(), Result::kAcquired);
  EXPECT_TRUE(Exists("{tomerack}-" + std::to_string(getuid()) + ".lock"));
  if (old_tmp) {
    setenv("TMPDIR", saved.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

TEST_F(InstanceLockTest, UnopenableLockFileFails) {
  WriteFile("{tomerack}.lock/inside", "the lock's name is taken by a directory");
  InstanceLock lock("{tomerack}");
  EXPECT_EQ(lock.Acquire(), Result::kFailed);
  EXPECT_FALSE(lock.held());
}

}  // namespace
