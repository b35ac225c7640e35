#include "services/registry_methods.h"

#include <cstdint>

#include "platform/codepage.h"
#include "util/number_text.h"
#include "util/registry_helpers.h"

namespace {

struct NamedHive {
  const char* name;
  RegistryHive hive;
};

constexpr NamedHive kHives[] = {
    {"HKEY_LOCAL_MACHINE", RegistryHive::kLocalMachine},
    {"HKEY_CLASSES_ROOT", RegistryHive::kClassesRoot},
    {"HKEY_CURRENT_CONFIG", RegistryHive::kCurrentConfig},
    {"HKEY_CURRENT_USER", RegistryHive::kCurrentUser},
    {"HKEY_USERS", RegistryHive::kUsers},
};

bool HiveNamed(const std::string& name, RegistryHive& hive) {
  for (const NamedHive& named : kHives) {
    if (platform::GbkEqualsNoCase(name, named.name)) {
      hive = named.hive;
      return true;
    }
  }
  return false;
}

bool IsNumberType(const std::string& type) {
  return platform::GbkEqualsNoCase(type, "int");
}

std::string ErrorText(int32_t code) {
  return "Err:" + std::to_string(code);
}

constexpr int32_t kTooFewArguments = 1;
constexpr int32_t kUnknownHive = 2;

}  // namespace

std::string RegisterRead(const std::vector<std::string>& arguments) {
  if (arguments.size() < 4) return ErrorText(kTooFewArguments);
  RegistryHive hive;
  if (!HiveNamed(arguments[0], hive)) return ErrorText(kUnknownHive);
  if (IsNumberType(arguments[3])) {
    uint32_t number = 0;
    int32_t code = RegReadNumber(hive, arguments[1], arguments[2], number);
    return code != 0 ? ErrorText(code) : std::to_string(static_cast<int32_t>(number));
  }
  std::string text;
  int32_t code = RegReadText(hive, arguments[1], arguments[2], text);
  return code != 0 ? ErrorText(code) : text;
}

std::string RegisterWrite(const std::vector<std::string>& arguments) {
  if (arguments.size() < 4) return ErrorText(kTooFewArguments);
  std::string type = arguments.size() >= 5 ? arguments[4] : "";
  RegistryHive hive;
  if (!HiveNamed(arguments[0], hive)) return ErrorText(kUnknownHive);
  int32_t code =
      IsNumberType(type)
          ? RegWriteNumber(static_cast<uint32_t>(ParseLeadingInt(arguments[3])), hive,
                           arguments[1], arguments[2])
          : RegWriteText(arguments[3], hive, arguments[1], arguments[2]);
  return code != 0 ? ErrorText(code) : "OK";
}
