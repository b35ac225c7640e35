// Config.EF: the sealed start-up configuration in the system directory. Its
// plain text is a JSON array of entries:
//   {"Type": "SystemPara", "Key": ..., "Value": ...}   a parameter
//   {"Type": "Reg", "Key": <hive>, "Path", "ValueName", "Value", "ValueType"}
#pragma once

#include <string>

// system/Config.EF under the program directory.
std::string GetConfigFilePath();

// Applies the entries of a parsed Config.EF text in order; returns how many
// were applied. Malformed elements are skipped.
int ApplyConfigEntries(const std::string& json_text);

// Reads Config.EF with the process key and applies it. A file that is
// missing, cannot be unsealed or does not parse is ignored (returns -1).
int LoadConfigFile();

// Sets a "SystemPara" entry in Config.EF and the parameter in memory. An
// empty path uses the path remembered from an earlier call, by default
// GetConfigFilePath(). Calls are serialised so concurrent updates are never
// lost; the file is replaced atomically. Returns 0; a write failure is not
// reported (the parameter is set in memory in any case).
int SetConfigPara(const std::string& path, const std::string& key, const std::string& value);

// The sealed Config.EF bytes for a plain text, as SetConfigPara writes them.
std::string SealConfigText(const std::string& text);
