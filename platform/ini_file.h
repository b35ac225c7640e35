// INI files with the semantics of the Windows profile functions
// (GetPrivateProfileStringA / WritePrivateProfileStringA).
//
// Section and key names are compared without regard to ASCII case; texts are
// code page 936 bytes. Reading strips blanks around names and values and one
// pair of enclosing quotes from a value. Writing keeps every other line of the
// file as it was, creates the file (not its directory) on first write, is
// serialised process-wide and replaces the file atomically.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The value of key in section, or default_value when the file, the section or
// the key is absent. At most buffer_size - 1 bytes are returned, as a
// Windows buffer of that size would hold.
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view default_value, std::string_view path,
                                    size_t buffer_size = 1024);

// The leading decimal integer of the value (sign allowed), or default_value
// when the key is absent or has no digits.
int GetPrivateProfileInt(std::string_view section, std::string_view key, int default_value,
                         std::string_view path);

// Sets key = value in section, adding the section at the end and the key at
// the end of its section when missing. False when the file cannot be written.
bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, std::string_view path);

// Removes a key (the Windows call with a null value). False on write failure.
bool DeletePrivateProfileKey(std::string_view section, std::string_view key, std::string_view path);

// Names of the keys of a section in file order (empty when absent).
std::vector<std::string> GetPrivateProfileKeys(std::string_view section, std::string_view path);

}  // namespace platform
