#include "util/registry_helpers.h"

#include <vector>

#include "platform/codepage.h"

namespace {

constexpr size_t kTextBufferSize = 1000;
constexpr int32_t kRegUnsupportedType = 1630;  // ERROR_UNSUPPORTED_TYPE

// Every prefix of key_path that names a level ("A", "A\B", "A\B\C"), empty
// levels dropped. "\" inside a double-byte character separates nothing.
std::vector<std::string> KeyLevels(const std::string& key_path) {
  std::vector<std::string> levels;
  std::string prefix, part;
  auto close_part = [&] {
    if (part.empty()) return;
    if (!prefix.empty()) prefix += '\\';
    prefix += part;
    part.clear();
    levels.push_back(prefix);
  };
  for (size_t i = 0; i < key_path.size(); ++i) {
    char c = key_path[i];
    if (platform::IsGbkLeadByte(static_cast<unsigned char>(c)) && i + 1 < key_path.size()) {
      part += c;
      part += key_path[++i];
    } else if (c == '\\' || c == '/') {
      close_part();
    } else {
      part += c;
    }
  }
  close_part();
  return levels;
}

int32_t WriteValue(RegistryHive hive, const std::string& key_path, const std::string& value_name,
                   uint32_t type, std::string_view data) {
  // Failures here are left to the open below to report.
  for (const std::string& level : KeyLevels(key_path)) (void)platform::RegCreateKey(hive, level);
  int32_t rc = platform::RegOpenKey(hive, key_path, true);
  if (rc != platform::kRegSuccess) return rc;
  return platform::RegSetValue(hive, key_path, value_name, type, data);
}

}  // namespace

int32_t RegReadText(RegistryHive hive, const std::string& key_path, const std::string& value_name,
                    std::string& text) {
  text.clear();
  int32_t rc = platform::RegOpenKey(hive, key_path, false);
  if (rc != platform::kRegSuccess) return rc;
  uint32_t type = 0;
  std::string data;
  rc = platform::RegQueryValue(hive, key_path, value_name, type, data, kTextBufferSize);
  if (rc != platform::kRegSuccess) return rc;
  text = data.substr(0, data.find('\0'));
  return platform::kRegSuccess;
}

int32_t RegReadNumber(RegistryHive hive, const std::string& key_path, const std::string& value_name,
                      uint32_t& number) {
  number = 0;
  int32_t rc = platform::RegOpenKey(hive, key_path, false);
  if (rc != platform::kRegSuccess) return rc;
  uint32_t type = 0;
  std::string data;
  rc = platform::RegQueryValue(hive, key_path, value_name, type, data, sizeof number);
  if (rc != platform::kRegSuccess) return rc;
  // The bytes of a short text would otherwise pass for a number.
  if (type != platform::kRegDword || data.size() != sizeof number) return kRegUnsupportedType;
  for (size_t i = 0; i < sizeof number; ++i) {
    number |= static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
  }
  return platform::kRegSuccess;
}

int32_t RegWriteText(const std::string& text, RegistryHive hive, const std::string& key_path,
                     const std::string& value_name) {
  return WriteValue(hive, key_path, value_name, platform::kRegSz, text);
}

int32_t RegWriteNumber(uint32_t number, RegistryHive hive, const std::string& key_path,
                       const std::string& value_name) {
  char bytes[4];
  for (size_t i = 0; i < sizeof bytes; ++i)
    bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
  return WriteValue(hive, key_path, value_name, platform::kRegDword,
                    std::string_view(bytes, sizeof bytes));
}
