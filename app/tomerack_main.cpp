// The client's entry point. The browser window is not part of this build
// yet: the program runs the start-up steps that need no window (single
// instance, program directory, process key, Config.EF), reports what they
// gave, and ends.
#include <cstdio>
#include <string>

#include "app/config_file.h"
#include "app/startup.h"
#include "config/parameter_store.h"
#include "config/program_paths.h"
#include "platform/codepage.h"
#include "util/path_names.h"

int main() {
  std::string error;
  if (!CheckProgramDirectory(error)) {
    std::fprintf(stderr, "tomerack: %s\n", error.c_str());
    return 1;
  }
  switch (InstanceGuard().Acquire()) {
    case platform::InstanceLock::Result::kAcquired:
      break;
    case platform::InstanceLock::Result::kAlreadyHeld:
      std::fprintf(stderr, "tomerack: %s\n", platform::GbkToUtf8(kAlreadyRunningMessage).c_str());
      return 1;
    case platform::InstanceLock::Result::kFailed:
      std::fprintf(stderr, "tomerack: cannot create the instance lock %s\n",
                   InstanceGuard().path().c_str());
      return 1;
  }

  int applied = LoadStartupConfiguration();
  std::printf("tomerack: program directory %s\n",
              platform::GbkToUtf8(GetProgramDirectory()).c_str());
  if (applied < 0) {
    std::printf("tomerack: no usable %s; starting with an empty configuration\n",
                platform::GbkToUtf8(GetConfigFilePath()).c_str());
  } else {
    std::printf("tomerack: %d configuration entries applied\n", applied);
  }
  ParameterMap parameters;
  CopyAllParameters(parameters);
  for (const auto& [name, value] : parameters) {
    std::printf("  %s = %s\n", platform::GbkToUtf8(name).c_str(),
                platform::GbkToUtf8(value).c_str());
  }
  std::printf("tomerack: the browser window is not built yet; ending\n");
  ReleaseStartupConfiguration();
  return 0;
}
