#include "app/startup.h"

#include "app/config_file.h"
#include "app/config_key.h"
#include "platform/program_location.h"

platform::InstanceLock& InstanceGuard() {
  static platform::InstanceLock lock(kInstanceMutexName);
  return lock;
}

bool CheckProgramDirectory(std::string& error) {
  return platform::CheckProgramPath(error);
}

int LoadStartupConfiguration() {
  BuildConfigKey();
  return LoadConfigFile();
}

void ReleaseStartupConfiguration() {
  FreeConfigKey();
}
