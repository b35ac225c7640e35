#include "app/config_file.h"

#include <strings.h>

#include <mutex>

#include "app/sealed_file.h"
#include "config/parameter_store.h"
#include "config/program_paths.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "util/file_io.h"
#include "util/json_tree.h"
#include "util/number_text.h"
#include "util/path_names.h"
#include "util/registry_helpers.h"

namespace {

// Guards the remembered path and, for the whole read-modify-write, the file.
std::mutex config_file_lock;
std::string remembered_path;

bool EqualsNoCase(const char* a, const char* b) {
  return a && b && strcasecmp(a, b) == 0;
}

// Writes the value of a "Reg" entry; false when the entry is skipped.
bool ApplyRegistryEntry(const cJSON* entry) {
  RegistryHive hive;
  const char* root = JsonStringMember(entry, "Key");
  if (!root || !platform::RegistryHiveFromName(root, hive)) return false;
  const char* path = JsonStringMember(entry, "Path");
  const char* name = JsonStringMember(entry, "ValueName");
  const char* value = JsonStringMember(entry, "Value");
  const char* type = JsonStringMember(entry, "ValueType");
  if (!path || !name || !value || !type) return false;
  // Write failures are not reported: start-up goes on without the value.
  if (EqualsNoCase(type, "string")) {
    (void)RegWriteText(value, hive, path, name);
  } else {
    (void)RegWriteNumber(static_cast<uint32_t>(ParseLeadingInt(value)), hive, path, name);
  }
  return true;
}

}  // namespace

std::string GetConfigFilePath() {
  return JoinPath(GetSystemDirectoryPath(), "Config.EF");
}

int ApplyConfigEntries(const std::string& json_text) {
  JsonPtr root = ParseJson(json_text);
  if (!cJSON_IsArray(root.get())) return -1;
  int applied = 0;
  const cJSON* entry = nullptr;
  cJSON_ArrayForEach(entry, root.get()) {
    const char* type = JsonStringMember(entry, "Type");
    if (!type) continue;
    if (EqualsNoCase(type, "SystemPara")) {
      const char* key = JsonStringMember(entry, "Key");
      const char* value = JsonStringMember(entry, "Value");
      if (!key || !value) continue;
      SetParameter(key, value);
      ++applied;
    } else if (EqualsNoCase(type, "Reg")) {
      if (ApplyRegistryEntry(entry)) ++applied;
    }
  }
  return applied;
}

int LoadConfigFile() {
  // A save killed before its rename left its temporary file beside.
  platform::RemoveAbandonedReplacements(GetSystemDirectoryPath());
  std::string text;
  if (ReadSealedFile(GetConfigFilePath(), 0, text) != kSealOk) return -1;
  return ApplyConfigEntries(text);
}

std::string SealConfigText(const std::string& text) {
  std::vector<int> r = platform::SeedAndDraw(static_cast<uint32_t>(platform::NowSeconds()), 2);
  return SealBuffer(text, ConfigKey(), static_cast<uint32_t>(r[1]), static_cast<uint32_t>(r[0]),
                    17);
}

int SetConfigPara(const std::string& path, const std::string& key, const std::string& value) {
  std::lock_guard<std::mutex> guard(config_file_lock);
  if (!path.empty()) remembered_path = path;
  if (remembered_path.empty()) remembered_path = GetConfigFilePath();
  const std::string file = remembered_path;

  std::string text;
  JsonPtr root;
  if (ReadSealedFile(file, 0, text) == kSealOk) root = ParseJson(text);
  if (!cJSON_IsArray(root.get())) root.reset(cJSON_CreateArray());

  cJSON* found = nullptr;
  cJSON* entry = nullptr;
  cJSON_ArrayForEach(entry, root.get()) {
    const char* key_text = JsonStringMember(entry, "Key");
    if (EqualsNoCase(JsonStringMember(entry, "Type"), "SystemPara") && key_text &&
        key == key_text) {
      found = entry;
      break;
    }
  }
  if (found) {
    cJSON_DeleteItemFromObject(found, "Value");
    cJSON_AddStringToObject(found, "Value", value.c_str());
  } else {
    cJSON* item = cJSON_CreateObject();
    cJSON_AddStringToObject(item, "Type", "SystemPara");
    cJSON_AddStringToObject(item, "Key", key.c_str());
    cJSON_AddStringToObject(item, "Value", value.c_str());
    cJSON_AddItemToArray(root.get(), item);
  }
  SetParameter(key, value);

  std::string sealed = SealConfigText(PrintJson(root.get()));
  // Write-through and atomic: a crash or a full disk keeps the old file.
  (void)WriteWholeFileAtomically(sealed.data(), sealed.size(), file);
  return 0;
}
