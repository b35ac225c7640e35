// The client's start-up as a process, without a display: single instance
// and program directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "app/startup.h"
#include "platform/instance_lock.h"
#include "tests/support/run_command.h"
#include "tests/support/sandbox.h"

namespace {

using testing_support::RunCommand;

class ClientStartupTest : public testing_support::Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    std::filesystem::create_directories(Path("run"));
    setenv("XDG_RUNTIME_DIR", Path("run").c_str(), 1);
    env_ = {{"XDG_RUNTIME_DIR", Path("run")},
            {"TOMERACK_PROGRAM_DIR", dir()},
            {"TOMERACK_REGISTRY_DIR", Path("registry")}};
  }
  void TearDown() override {
    unsetenv("XDG_RUNTIME_DIR");
    Sandbox::TearDown();
  }
  std::map<std::string, std::string> env_;
};

TEST_F(ClientStartupTest, ASecondInstanceIsRefused) {
  platform::InstanceLock first(kInstanceMutexName);
  ASSERT_EQ(first.Acquire(), platform::InstanceLock::Result::kAcquired);
  auto r = RunCommand(TOMERACK_CLIENT_PATH, {}, {}, env_);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(
      r.err.find(reinterpret_cast<const char*>(u8"程序已经启动了一个实例，不能同时启动多个实例！")),
      std::string::npos)
      << r.err;
  first.Release();
  // Past the guard now (without a display it stops there; the window tests
  // run it under an X server).
  env_["DISPLAY"] = "";
  auto again = RunCommand(TOMERACK_CLIENT_PATH, {}, {}, env_);
  EXPECT_EQ(again.err.find(reinterpret_cast<const char*>(u8"程序已经启动了一个实例")), std::string::npos)
      << again.err;
  EXPECT_NE(again.err.find("display"), std::string::npos) << again.err;
}

TEST_F(ClientStartupTest, ADirectoryOutsideTheCodePageIsRefused) {
  std::string odd = Path(reinterpret_cast<const char*>(u8"教材-😀"));
  std::filesystem::create_directories(odd);
  env_["TOMERACK_PROGRAM_DIR"] = odd;
  auto r = RunCommand(TOMERACK_CLIENT_PATH, {}, {}, env_);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("code page 936"), std::string::npos) << r.err;
  EXPECT_TRUE(std::filesystem::is_empty(odd));
}

}  // namespace
