// config [--program-dir DIR] list | get KEY | set KEY VALUE
#include <strings.h>

#include "app/config_file.h"
#include "app/config_key.h"
#include "app/sealed_file.h"
#include "platform/codepage.h"
#include "tools/tool_common.h"
#include "util/json_tree.h"

namespace {

constexpr const char kUsage[] =
    "usage: tomerack-tool config [--program-dir DIR] list | get KEY | set KEY VALUE";

// The entries of Config.EF, or null with a message printed. A missing file is
// an empty configuration.
JsonPtr ReadEntries(int& status) {
  std::string path = GetConfigFilePath();
  std::string text;
  int code = ReadSealedFile(path, 0, text);
  if (code == kSealNoFile) return JsonPtr(cJSON_CreateArray());
  if (code != kSealOk) {
    status = Fail("cannot unseal " + platform::GbkToUtf8(path) + ": result code " +
                  std::to_string(code));
    return nullptr;
  }
  JsonPtr root = ParseJson(text);
  if (!cJSON_IsArray(root.get())) {
    status = Fail(platform::GbkToUtf8(path) + " does not hold a JSON array");
    return nullptr;
  }
  return root;
}

// Whether the entries hold the SystemPara key with exactly value.
bool HoldsValue(const cJSON* root, const std::string& key, const std::string& value) {
  const cJSON* entry = nullptr;
  cJSON_ArrayForEach(entry, root) {
    const char* type = JsonStringMember(entry, "Type");
    const char* k = JsonStringMember(entry, "Key");
    const char* v = JsonStringMember(entry, "Value");
    if (type && strcasecmp(type, "SystemPara") == 0 && k && key == k) return v && value == v;
  }
  return false;
}

}  // namespace

int RunConfig(Arguments args) {
  std::string directory;
  TakeOption(args, "--program-dir", directory);
  if (args.empty()) return Fail(kUsage, kExitUsage);
  if (!UseProgramDirectory(directory)) return kExitFailure;
  BuildConfigKey();
  const std::string command = args[0];
  int status = kExitOk;

  if (command == "list" && args.size() == 1) {
    JsonPtr root = ReadEntries(status);
    if (!root) return status;
    return WriteStdout(platform::GbkToUtf8(PrintJson(root.get())) + "\n") ? kExitOk : kExitFailure;
  }
  if (command == "get" && args.size() == 2) {
    JsonPtr root = ReadEntries(status);
    if (!root) return status;
    const std::string key = platform::Utf8ToGbk(args[1]);
    const cJSON* entry = nullptr;
    cJSON_ArrayForEach(entry, root.get()) {
      const char* type = JsonStringMember(entry, "Type");
      const char* k = JsonStringMember(entry, "Key");
      const char* v = JsonStringMember(entry, "Value");
      if (type && strcasecmp(type, "SystemPara") == 0 && k && key == k && v) {
        return WriteStdout(platform::GbkToUtf8(v) + "\n") ? kExitOk : kExitFailure;
      }
    }
    return Fail("no parameter \"" + args[1] + "\" in Config.EF");
  }
  if (command == "set" && args.size() == 3) {
    // Refuse to overwrite a file we could not read: the client would start
    // from an empty list and drop every other entry.
    JsonPtr root = ReadEntries(status);
    if (!root) return status;
    (void)SetConfigPara(GetConfigFilePath(), platform::Utf8ToGbk(args[1]),
                        platform::Utf8ToGbk(args[2]));
    // SetConfigPara keeps the old file when it cannot write the new one
    // (a full disk): only the value read back shows that it was stored.
    JsonPtr stored = ReadEntries(status);
    if (!stored || !HoldsValue(stored.get(), platform::Utf8ToGbk(args[1]),
                               platform::Utf8ToGbk(args[2]))) {
      return Fail("cannot write " + platform::GbkToUtf8(GetConfigFilePath()));
    }
    return kExitOk;
  }
  return Fail(kUsage, kExitUsage);
}
