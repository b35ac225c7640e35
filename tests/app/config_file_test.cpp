#include "app/config_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>
#include <vector>

#include "app/config_key.h"
#include "app/sealed_file.h"
#include "config/parameter_store.h"
#include "config/program_paths.h"
#include "platform/ini_file.h"
#include "tests/support/program_dir.h"
#include "util/json_tree.h"
#include "util/registry_helpers.h"

namespace {

class ConfigFileTest : public testing_support::ProgramDirSandbox {
 protected:
  void SetUp() override {
    ProgramDirSandbox::SetUp();
    BuildConfigKey();
  }
  void TearDown() override {
    FreeConfigKey();
    ProgramDirSandbox::TearDown();
  }

  // The entries of the file as a JSON tree.
  JsonPtr Entries(const std::string& path) {
    std::string text;
    EXPECT_EQ(ReadSealedFile(path, 0, text), kSealOk);
    return ParseJson(text);
  }

  static int CountKey(const cJSON* root, const std::string& key) {
    int n = 0;
    const cJSON* e = nullptr;
    cJSON_ArrayForEach(e, root) {
      const char* k = JsonStringMember(e, "Key");
      if (k && key == k) ++n;
    }
    return n;
  }
};

TEST_F(ConfigFileTest, AppliesParametersAndRegistryEntries) {
  const char* text = R"([
    {"Type": "SystemPara", "Key": "wwwhome", "Value": "http://$SERVER$/"},
    {"type": "systempara", "key": "_INI_Theme", "value": "blue"},
    {"Type": "SystemPara", "Key": "missing value"},
    {"Type": "Reg", "Key": "hkey_current_user", "Path": "Software\\Lumaread\\A",
     "ValueName": "Name", "Value": "text", "ValueType": "STRING"},
    {"Type": "Reg", "Key": "HKEY_LOCAL_MACHINE", "Path": "Software\\Lumaread",
     "ValueName": "Count", "Value": "12abc", "ValueType": "dword"},
    {"Type": "Reg", "Key": "HKEY_LOCAL_MACHINE", "Path": "Software\\Lumaread",
     "ValueName": "NoType", "Value": "1"},
    {"Type": "Reg", "Key": "HKCU", "Path": "Software\\Lumaread",
     "ValueName": "BadRoot", "Value": "1", "ValueType": "string"},
    {"Type": "Unknown"}, {"NoType": 1}, 7
  ])";
  WriteFile("system/Config.EF", std::string("  ") + text);
  EXPECT_EQ(LoadConfigFile(), 4);

  EXPECT_EQ(ParameterStore::Instance().Get("WWWHOME"), "http://$SERVER$/");
  EXPECT_EQ(platform::GetPrivateProfileString("_GlobalPara_", "Theme", "", GetInstanceIniPath()),
            "blue");
  EXPECT_EQ(ParameterStore::Instance().Get("missing value"), "");

  std::string s;
  EXPECT_EQ(RegReadText(RegistryHive::kCurrentUser, "Software\\Lumaread\\A", "Name", s), 0);
  EXPECT_EQ(s, "text");
  uint32_t n = 0;
  EXPECT_EQ(RegReadNumber(RegistryHive::kLocalMachine, "Software\\Lumaread", "Count", n), 0);
  EXPECT_EQ(n, 12u);
  EXPECT_EQ(RegReadNumber(RegistryHive::kLocalMachine, "Software\\Lumaread", "NoType", n), 2);
}

TEST_F(ConfigFileTest, UnusableFilesAreIgnored) {
  EXPECT_EQ(LoadConfigFile(), -1);  // missing
  WriteFile("system/Config.EF", "  {not json");
  EXPECT_EQ(LoadConfigFile(), -1);
  WriteFile("system/Config.EF", "short");
  EXPECT_EQ(LoadConfigFile(), -1);
  // Sealed with the key but read while no key exists.
  std::string sealed = SealConfigText("[]");
  testing_support::WriteBytes(Path("system/Config.EF"), sealed);
  FreeConfigKey();
  EXPECT_EQ(LoadConfigFile(), -1);
}

TEST_F(ConfigFileTest, SetConfigParaReplacesByExactKey) {
  const std::string path = Path("system/Config.EF");
  EXPECT_EQ(SetConfigPara(path, "uid", "first"), 0);
  EXPECT_EQ(SetConfigPara(path, "uid", "second"), 0);
  EXPECT_EQ(SetConfigPara(path, "UID", "other case"), 0);
  JsonPtr root = Entries(path);
  ASSERT_TRUE(cJSON_IsArray(root.get()));
  EXPECT_EQ(CountKey(root.get(), "uid"), 1);
  EXPECT_EQ(CountKey(root.get(), "UID"), 1);
  const cJSON* first = cJSON_GetArrayItem(root.get(), 0);
  EXPECT_STREQ(JsonStringMember(first, "Value"), "second");
  // The in-memory store ignores case, so the later call wins there.
  EXPECT_EQ(GetParameter("uid"), "other case");
  // The file is sealed with the key layer.
  std::string raw = testing_support::ReadBytes(path), plain;
  EXPECT_EQ(UnsealBuffer(raw, KeyView{}, 0, plain), kSealNeedsKey);
}

TEST_F(ConfigFileTest, SetConfigParaKeepsOtherEntriesAndMovesValueLast) {
  const std::string path = Path("system/Config.EF");
  WriteFile(
      "system/Config.EF",
      R"(  [{"Type":"Reg","Key":"HKEY_USERS","Path":"p","ValueName":"v","Value":"1","ValueType":"string"},)"
      R"({"Type":"SystemPara","Value":"old","Key":"token"}])");
  EXPECT_EQ(SetConfigPara(path, "token", "new"), 0);
  JsonPtr root = Entries(path);
  ASSERT_EQ(cJSON_GetArraySize(root.get()), 2);
  const cJSON* entry = cJSON_GetArrayItem(root.get(), 1);
  const cJSON* last = entry->child;
  while (last->next) last = last->next;
  EXPECT_STREQ(last->string, "Value");
  EXPECT_STREQ(last->valuestring, "new");
  EXPECT_STREQ(JsonStringMember(cJSON_GetArrayItem(root.get(), 0), "Type"), "Reg");
}

TEST_F(ConfigFileTest, SetConfigParaStartsAfreshFromABrokenFile) {
  const std::string path = Path("system/Config.EF");
  WriteFile("system/Config.EF", "garbage that is not sealed at all, 40 bytes+");
  EXPECT_EQ(SetConfigPara(path, "k", "v"), 0);
  JsonPtr root = Entries(path);
  ASSERT_EQ(cJSON_GetArraySize(root.get()), 1);
}

// An administrator's read-only Config.EF keeps every entry; the parameter
// still changes in memory, as when any other write fails.
TEST_F(ConfigFileTest, SetConfigParaLeavesAWriteProtectedFileAlone) {
  const std::string path = Path("system/Config.EF");
  EXPECT_EQ(SetConfigPara(path, "serverlist", "app#a#1#1#host"), 0);
  const std::string before = testing_support::ReadBytes(path);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_EQ(SetConfigPara(path, "uid", "u7"), 0);
  EXPECT_EQ(testing_support::ReadBytes(path), before);
  EXPECT_EQ(GetParameter("uid"), "u7");
  JsonPtr root = Entries(path);
  EXPECT_EQ(CountKey(root.get(), "serverlist"), 1);
  EXPECT_EQ(CountKey(root.get(), "uid"), 0);
}

TEST_F(ConfigFileTest, EmptyPathUsesTheRememberedPath) {
  const std::string other = Path("elsewhere/Config.EF");
  EXPECT_EQ(SetConfigPara(other, "a", "1"), 0);
  EXPECT_EQ(SetConfigPara("", "b", "2"), 0);
  EXPECT_EQ(CountKey(Entries(other).get(), "b"), 1);
}

TEST_F(ConfigFileTest, ConcurrentUpdatesAreAllKept) {
  const std::string path = Path("system/Config.EF");
  constexpr int kThreads = 6;
  constexpr int kKeysEach = 15;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&path, t] {
      for (int i = 0; i < kKeysEach; ++i) {
        (void)SetConfigPara(path, "k" + std::to_string(t) + "_" + std::to_string(i), "v");
      }
    });
  }
  for (auto& th : threads) th.join();
  JsonPtr root = Entries(path);
  EXPECT_EQ(cJSON_GetArraySize(root.get()), kThreads * kKeysEach);
}

}  // namespace
