// The INI reader and writer on any file: reads of the client's own keys,
// then a write and a removal, after which the value written reads back.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = fuzz_support::WriteInputFile(data, size, "tomerack.ini");
  for (const char* section : {"system", "appserver", ""}) {
    for (const std::string& key : platform::GetPrivateProfileKeys(section, path)) {
      (void)platform::GetPrivateProfileString(section, key, "", path, 16);
    }
  }
  (void)platform::GetPrivateProfileInt("system", "serverUI", 1, path);
  if (platform::WritePrivateProfileString("system", "startpage", "DTM/Index.html", path) &&
      platform::GetPrivateProfileString("system", "startpage", "", path) != "DTM/Index.html") {
    __builtin_trap();
  }
  (void)platform::DeletePrivateProfileKey("system", "trusted_hosts", path);
  return 0;
}
