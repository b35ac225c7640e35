#include "app/startup.h"

#include "app/config_file.h"
#include "app/config_key.h"
#include "config/parameter_store.h"
#include "config/program_paths.h"
#include "platform/ini_file.h"
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

void ApplyInstanceIni() {
  static constexpr const char* kKeys[] = {"url_getServerlist", "wwwhome",     "wwwhome_data",
                                          "url_getTomeRack",   "wwwhome_app", "uid"};
  std::string ini = GetInstanceIniPath();
  for (const char* key : kKeys) {
    std::string value = platform::GetPrivateProfileString("DTM", key, "", ini);
    if (!value.empty()) SetParameter(key, value);
  }
}
