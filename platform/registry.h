// A persistent stand-in for the Windows registry: hierarchical keys holding
// text (REG_SZ) and 32-bit number (REG_DWORD) values.
//
// Each hive is one SQLite database file in the registry directory: the
// directory named by TOMERACK_REGISTRY_DIR, else
// $XDG_CONFIG_HOME/tomerack/registry, else ~/.config/tomerack/registry.
// Key paths use "\" or "/" between levels; empty levels are ignored; key and
// value names are compared without regard to ASCII case. Results are the
// Windows error codes: 0 success, 2 missing key or value, 5 access denied,
// 234 value larger than the caller's buffer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class RegistryHive {
  kClassesRoot,
  kCurrentUser,
  kLocalMachine,
  kUsers,
  kCurrentConfig,
};

inline constexpr const char* kRegistryDirEnvironment = "TOMERACK_REGISTRY_DIR";

inline constexpr int32_t kRegSuccess = 0;
inline constexpr int32_t kRegFileNotFound = 2;
inline constexpr int32_t kRegAccessDenied = 5;
inline constexpr int32_t kRegMoreData = 234;

inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegDword = 4;

// The hive's Windows name ("HKEY_CURRENT_USER"...), and the reverse look-up
// without regard to case; false when the name is none of the five.
const char* RegistryHiveName(RegistryHive hive);
bool RegistryHiveFromName(std::string_view name, RegistryHive& hive);

// Creates the key (and its missing parents) or opens it if it exists.
int32_t RegCreateKey(RegistryHive hive, std::string_view key_path);

// Checks that the key exists and, with for_write, that it may be changed.
int32_t RegOpenKey(RegistryHive hive, std::string_view key_path, bool for_write);

// Stores a value in an existing key. data is the value's bytes as Windows
// stores them (text without terminator; a DWORD as 4 little-endian bytes).
int32_t RegSetValue(RegistryHive hive, std::string_view key_path, std::string_view value_name,
                    uint32_t type, std::string_view data);

// Reads a value. With a value larger than buffer_size, 234 and data empty.
int32_t RegQueryValue(RegistryHive hive, std::string_view key_path, std::string_view value_name,
                      uint32_t& type, std::string& data, size_t buffer_size);

int32_t RegDeleteValue(RegistryHive hive, std::string_view key_path, std::string_view value_name);

// Marks a key so that changing it or creating keys under it is refused with
// 5, the stand-in for a key whose access list denies writing. Used by tests
// and by administrators who lock settings.
int32_t RegDenyWrite(RegistryHive hive, std::string_view key_path, bool deny);

}  // namespace platform
