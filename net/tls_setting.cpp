#include "net/tls_setting.h"

#include "config/program_paths.h"
#include "platform/ini_file.h"

bool InsecureTlsAllowed() {
  return platform::GetPrivateProfileInt(kInsecureTlsSection, kInsecureTlsKey, 0,
                                        GetInstanceIniPath()) != 0;
}
