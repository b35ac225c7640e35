#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_system.h"
#include "tests/support/sandbox.h"

namespace {

using platform::ProcessHandle;
using platform::SplitCommandLine;
using platform::StartProcess;
using Args = std::vector<std::string>;

TEST(SplitCommandLineTest, WindowsQuotingRules) {
  struct Case {
    const char* line;
    Args expected;
  } cases[] = {
      {"", {}},
      {"  \t ", {}},
      {"a b\tc", {"a", "b", "c"}},
      {"  lead  trail  ", {"lead", "trail"}},
      {"\"with blank\" x", {"with blank", "x"}},
      {"ab\"c d\"e", {"abc de"}},
      {"\"\" x", {"", "x"}},
      {"C:\\dir\\file.txt", {"C:\\dir\\file.txt"}},
      {"a\\\\b", {"a\\\\b"}},
      {"\\\"quoted\\\"", {"\"quoted\""}},
      {"\"a\\\\\" b", {"a\\", "b"}},
      {"a\\\\\\\"b", {"a\\\"b"}},
      {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
      {"\"unterminated arg", {"unterminated arg"}},
      // The second byte of a double-byte character may be "\"; it escapes
      // nothing.
      {"\x95\x5c\" x\"", {"\x95\x5c x"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.expected) << c.line;
}

class ProcessTest : public testing_support::Sandbox {
 protected:
  // A script that records its working directory and arguments in file out.
  std::string MakeScript(const std::string& relative, const std::string& body) {
    WriteFile(relative, "#!/bin/sh\n" + body + "\n");
    std::string path = Path(relative);
    EXPECT_EQ(chmod(path.c_str(), 0755), 0);
    return path;
  }
};

TEST_F(ProcessTest, ExitCodesOfEndedPrograms) {
  ProcessHandle ok = StartProcess("/bin/true", {});
  ASSERT_TRUE(ok.valid());
  EXPECT_TRUE(ok.Wait(10000));
  EXPECT_EQ(ok.exit_code(), 0);
  EXPECT_FALSE(ok.IsRunning());

  ProcessHandle seven = StartProcess("/bin/sh", {"-c", "exit 7"});
  ASSERT_TRUE(seven.valid());
  EXPECT_TRUE(seven.Wait(-1));
  EXPECT_EQ(seven.exit_code(), 7);
}

TEST_F(ProcessTest, RunningProgramIsTerminated) {
  ProcessHandle sleeper = StartProcess("/bin/sleep", {"30"});
  ASSERT_TRUE(sleeper.valid());
  EXPECT_TRUE(sleeper.IsRunning());
  EXPECT_FALSE(sleeper.Wait(20));
  EXPECT_EQ(sleeper.exit_code(), -1);

  std::string image;
  ASSERT_TRUE(platform::ProcessImagePath(sleeper.pid(), image));
  char* real = realpath("/bin/sleep", nullptr);
  ASSERT_NE(real, nullptr);
  EXPECT_EQ(image, real);
  free(real);

  EXPECT_TRUE(sleeper.Terminate());
  EXPECT_TRUE(sleeper.Wait(10000));
  EXPECT_FALSE(sleeper.IsRunning());
  EXPECT_EQ(sleeper.exit_code(), -1);  // killed, no exit code
  EXPECT_TRUE(sleeper.Terminate());    // already ended
  EXPECT_FALSE(platform::ProcessImagePath(sleeper.pid(), image));
}

// A handle dropped while its program runs, as a reader that is terminated and
// closed at once, must not leave a zombie behind.
TEST_F(ProcessTest, DroppedHandlesLeaveNoZombie) {
  int running_pid = 0;
  int killed_pid = 0;
  {
    ProcessHandle running = StartProcess("/bin/sleep", {"0.2"});
    ProcessHandle killed = StartProcess("/bin/sleep", {"30"});
    ASSERT_TRUE(running.valid() && killed.valid());
    running_pid = running.pid();
    killed_pid = killed.pid();
    EXPECT_TRUE(killed.Terminate());
  }
  auto gone = [](int pid) {
    return testing_support::WaitFor(
        [pid] { return access(("/proc/" + std::to_string(pid)).c_str(), F_OK) != 0; });
  };
  EXPECT_TRUE(gone(killed_pid));
  EXPECT_TRUE(gone(running_pid));
}

TEST_F(ProcessTest, MovedHandleOwnsTheProcess) {
  ProcessHandle first = StartProcess("/bin/sleep", {"30"});
  ASSERT_TRUE(first.valid());
  ProcessHandle second = std::move(first);
  EXPECT_FALSE(
      first.valid());  // NOLINT(bugprone-use-after-move): the moved-from state is the point
  EXPECT_FALSE(first.IsRunning());
  EXPECT_TRUE(second.IsRunning());
  EXPECT_TRUE(second.Terminate());
  EXPECT_TRUE(second.Wait(10000));
}

TEST_F(ProcessTest, WorkingDirectoryIsTheProgramsOwnUnlessGiven) {
  std::string script = MakeScript("bin/where.sh", "pwd > \"$1\"");
  ProcessHandle own = StartProcess(script, {Path("own.txt")});
  ASSERT_TRUE(own.valid());
  ASSERT_TRUE(own.Wait(10000));
  EXPECT_EQ(ReadFile("own.txt"), Path("bin") + "\n");

  WriteFile("work/.keep", "");
  ProcessHandle given = StartProcess(script, {Path("given.txt")}, Path("work"));
  ASSERT_TRUE(given.valid());
  ASSERT_TRUE(given.Wait(10000));
  EXPECT_EQ(ReadFile("given.txt"), Path("work") + "\n");
}

TEST_F(ProcessTest, ArgumentsReachTheProgramAsUtf8) {
  std::string script = MakeScript("args.sh", "printf '%s|' \"$@\" > out.txt");
  ProcessHandle p = StartProcess(script, {"\xd6\xd0\xce\xc4", "with blank", ""});
  ASSERT_TRUE(p.valid());
  ASSERT_TRUE(p.Wait(10000));
  EXPECT_EQ(ReadFile("out.txt"), "\xe4\xb8\xad\xe6\x96\x87|with blank||");
}

TEST_F(ProcessTest, OnlyStandardDescriptorsAreInherited) {
  int leaked = open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
  ASSERT_GE(leaked, 3);
  std::string script = MakeScript(
      "fds.sh", "if [ -e /proc/$$/fd/$2 ]; then r=open; else r=closed; fi; echo $r > \"$1\"");
  ProcessHandle p = StartProcess(script, {Path("fds.txt"), std::to_string(leaked)});
  close(leaked);
  ASSERT_TRUE(p.valid());
  ASSERT_TRUE(p.Wait(10000));
  EXPECT_EQ(ReadFile("fds.txt"), "closed\n");
}

TEST_F(ProcessTest, FailedStartGivesInvalidHandleAndError) {
  ProcessHandle missing = StartProcess(Path("no-such-program"), {});
  EXPECT_FALSE(missing.valid());
  EXPECT_EQ(platform::LastErrorCode(), ENOENT);

  WriteFile("plain.txt", "not a program");
  ProcessHandle plain = StartProcess(Path("plain.txt"), {});
  EXPECT_FALSE(plain.valid());
  EXPECT_EQ(platform::LastErrorCode(), EACCES);

  EXPECT_FALSE(StartProcess("", {}).valid());
  ProcessHandle none;
  EXPECT_FALSE(none.IsRunning());
  EXPECT_FALSE(none.Terminate());
}

}  // namespace
