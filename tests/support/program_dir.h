// A sandbox that is also the program directory and the registry of the code
// under test, so that every path the program derives lands inside it.
#pragma once

#include <stdlib.h>

#include "config/parameter_store.h"
#include "platform/program_location.h"
#include "platform/registry.h"
#include "tests/support/sandbox.h"

namespace testing_support {

class ProgramDirSandbox : public Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    setenv(platform::kProgramDirEnvironment, dir().c_str(), 1);
    setenv(platform::kRegistryDirEnvironment, Path("registry").c_str(), 1);
    ParameterStore::Instance().Clear();
  }
  void TearDown() override {
    unsetenv(platform::kProgramDirEnvironment);
    unsetenv(platform::kRegistryDirEnvironment);
    ParameterStore::Instance().Clear();
    Sandbox::TearDown();
  }
};

}  // namespace testing_support
