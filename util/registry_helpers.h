// Registry values as the rest of the program uses them: start-up applies the
// configuration's registry entries with these, browser windows write their
// emulation value, and pages read and write values.
//
// Key paths are texts with "\" (or "/") between levels. Each call returns 0
// on success, else the Windows error code of the step that failed.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry.h"

using platform::RegistryHive;

// Reads a text value into a buffer of 1000 bytes; on success text holds the
// bytes read up to the first zero byte.
int32_t RegReadText(RegistryHive hive, const std::string& key_path, const std::string& value_name,
                    std::string& text);

// Reads a 4-byte number value.
int32_t RegReadNumber(RegistryHive hive, const std::string& key_path, const std::string& value_name,
                      uint32_t& number);

// Creates every missing key along key_path (failures ignored), opens the key
// for writing and stores the text as a REG_SZ value without terminator.
int32_t RegWriteText(const std::string& text, RegistryHive hive, const std::string& key_path,
                     const std::string& value_name);

// As RegWriteText, storing a 4-byte REG_DWORD value.
int32_t RegWriteNumber(uint32_t number, RegistryHive hive, const std::string& key_path,
                       const std::string& value_name);
