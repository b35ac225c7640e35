#include "platform/registry.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "tests/support/sandbox.h"

namespace {

using namespace platform;

constexpr RegistryHive kUser = RegistryHive::kCurrentUser;

class RegistryTest : public testing_support::Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    // Not created beforehand: the first write has to make it.
    registry_dir_ = Path("config/registry");
    setenv(kRegistryDirEnvironment, registry_dir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv(kRegistryDirEnvironment);
    Sandbox::TearDown();
  }

  static std::string Query(RegistryHive hive, const std::string& key, const std::string& name,
                           int32_t* rc = nullptr, uint32_t* type = nullptr, size_t size = 1000) {
    uint32_t t = 0;
    std::string data;
    int32_t r = RegQueryValue(hive, key, name, t, data, size);
    if (rc) *rc = r;
    if (type) *type = t;
    return data;
  }

  std::string registry_dir_;
};

TEST_F(RegistryTest, CreateMakesParentsAndPathSpellingsMeetOneKey) {
  ASSERT_EQ(RegCreateKey(kUser, "Software\\TomeRack\\Settings"), kRegSuccess);
  EXPECT_TRUE(Exists("config/registry/HKEY_CURRENT_USER.db"));
  for (const char* spelling : {"Software", "software\\tomerack", "SOFTWARE/TomeRack/settings",
                               "\\Software\\\\TomeRack\\Settings\\", "//software//tomerack/"}) {
    EXPECT_EQ(RegOpenKey(kUser, spelling, false), kRegSuccess) << spelling;
  }
  EXPECT_EQ(RegOpenKey(kUser, "Software\\TomeRac", false), kRegFileNotFound);
  EXPECT_EQ(RegOpenKey(kUser, "Software\\TomeRack\\Settings\\More", true), kRegFileNotFound);
  // The hive's root always exists.
  EXPECT_EQ(RegOpenKey(kUser, "", false), kRegSuccess);
  EXPECT_EQ(RegOpenKey(kUser, "\\", true), kRegSuccess);
}

TEST_F(RegistryTest, HivesAreSeparate) {
  ASSERT_EQ(RegCreateKey(kUser, "K"), kRegSuccess);
  ASSERT_EQ(RegSetValue(kUser, "K", "v", kRegSz, "user"), kRegSuccess);
  EXPECT_EQ(RegOpenKey(RegistryHive::kLocalMachine, "K", false), kRegFileNotFound);
  EXPECT_FALSE(Exists("config/registry/HKEY_LOCAL_MACHINE.db"));
}

TEST_F(RegistryTest, ValuesRoundTripWithNamesIgnoringCase) {
  ASSERT_EQ(RegCreateKey(kUser, "App"), kRegSuccess);
  const std::string dword("\xff\xff\xff\xff", 4);
  const std::string with_zero("a\0b", 3);
  ASSERT_EQ(RegSetValue(kUser, "App", "Text", kRegSz, "\xd6\xd0\xce\xc4"), kRegSuccess);
  ASSERT_EQ(RegSetValue(kUser, "App", "Number", kRegDword, dword), kRegSuccess);
  ASSERT_EQ(RegSetValue(kUser, "App", "", kRegSz, with_zero), kRegSuccess);
  ASSERT_EQ(RegSetValue(kUser, "App", "Blank", kRegSz, ""), kRegSuccess);

  int32_t rc = -1;
  uint32_t type = 0;
  EXPECT_EQ(Query(kUser, "app", "TEXT", &rc, &type), "\xd6\xd0\xce\xc4");
  EXPECT_EQ(rc, kRegSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(Query(kUser, "APP", "number", &rc, &type), dword);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(Query(kUser, "App", "", &rc), with_zero);
  EXPECT_EQ(Query(kUser, "App", "blank", &rc, &type), "");
  EXPECT_EQ(rc, kRegSuccess);
  EXPECT_EQ(type, kRegSz);

  // Replacing changes type and data of the one value.
  ASSERT_EQ(RegSetValue(kUser, "App", "TEXT", kRegDword, dword), kRegSuccess);
  EXPECT_EQ(Query(kUser, "App", "text", &rc, &type), dword);
  EXPECT_EQ(type, kRegDword);

  ASSERT_EQ(RegDeleteValue(kUser, "App", "tExt"), kRegSuccess);
  Query(kUser, "App", "Text", &rc);
  EXPECT_EQ(rc, kRegFileNotFound);
  EXPECT_EQ(RegDeleteValue(kUser, "App", "Text"), kRegFileNotFound);
}

TEST_F(RegistryTest, MissingKeysValuesAndSmallBuffers) {
  int32_t rc = -1;
  // Nothing written yet: no database at all.
  Query(kUser, "App", "v", &rc);
  EXPECT_EQ(rc, kRegFileNotFound);
  EXPECT_EQ(RegSetValue(kUser, "App", "v", kRegSz, "x"), kRegFileNotFound);

  ASSERT_EQ(RegCreateKey(kUser, "App"), kRegSuccess);
  Query(kUser, "App", "v", &rc);
  EXPECT_EQ(rc, kRegFileNotFound);

  ASSERT_EQ(RegSetValue(kUser, "App", "v", kRegSz, "12345"), kRegSuccess);
  EXPECT_EQ(Query(kUser, "App", "v", &rc, nullptr, 5), "12345");
  EXPECT_EQ(rc, kRegSuccess);
  uint32_t type = 0;
  EXPECT_EQ(Query(kUser, "App", "v", &rc, &type, 4), "");
  EXPECT_EQ(rc, kRegMoreData);
  EXPECT_EQ(type, kRegSz);
}

TEST_F(RegistryTest, DoubleByteNamesAreNeitherSplitNorFolded) {
  // 0x95 0x5C is one character whose second byte is "\"; 0x81 0x61 and
  // 0x81 0x41 are two characters, not two spellings of one.
  ASSERT_EQ(RegCreateKey(kUser, "X\\\x95\x5c"), kRegSuccess);
  EXPECT_EQ(RegOpenKey(kUser, "X\\\x95", false), kRegFileNotFound);
  EXPECT_EQ(RegOpenKey(kUser, "x\\\x95\x5c", false), kRegSuccess);

  ASSERT_EQ(RegCreateKey(kUser, "\x81\x61"), kRegSuccess);
  EXPECT_EQ(RegOpenKey(kUser, "\x81\x41", false), kRegFileNotFound);
  ASSERT_EQ(RegSetValue(kUser, "\x81\x61", "\x81\x61", kRegSz, "lower"), kRegSuccess);
  ASSERT_EQ(RegSetValue(kUser, "\x81\x61", "\x81\x41", kRegSz, "upper"), kRegSuccess);
  EXPECT_EQ(Query(kUser, "\x81\x61", "\x81\x61"), "lower");
  EXPECT_EQ(Query(kUser, "\x81\x61", "\x81\x41"), "upper");
}

TEST_F(RegistryTest, DeniedKeyRefusesChangesAndSubkeys) {
  ASSERT_EQ(RegCreateKey(kUser, "Policy\\Existing"), kRegSuccess);
  ASSERT_EQ(RegSetValue(kUser, "Policy", "v", kRegSz, "old"), kRegSuccess);
  ASSERT_EQ(RegDenyWrite(kUser, "policy", true), kRegSuccess);

  EXPECT_EQ(RegOpenKey(kUser, "Policy", false), kRegSuccess);
  EXPECT_EQ(RegOpenKey(kUser, "Policy", true), kRegAccessDenied);
  EXPECT_EQ(RegSetValue(kUser, "Policy", "v", kRegSz, "new"), kRegAccessDenied);
  EXPECT_EQ(RegDeleteValue(kUser, "Policy", "v"), kRegAccessDenied);
  EXPECT_EQ(RegCreateKey(kUser, "Policy\\New"), kRegAccessDenied);
  EXPECT_EQ(RegOpenKey(kUser, "Policy\\New", false), kRegFileNotFound);
  // Opening what exists is no change.
  EXPECT_EQ(RegCreateKey(kUser, "Policy\\Existing"), kRegSuccess);
  EXPECT_EQ(Query(kUser, "Policy", "v"), "old");

  ASSERT_EQ(RegDenyWrite(kUser, "POLICY", false), kRegSuccess);
  EXPECT_EQ(RegSetValue(kUser, "Policy", "v", kRegSz, "new"), kRegSuccess);
  EXPECT_EQ(RegCreateKey(kUser, "Policy\\New"), kRegSuccess);
}

TEST_F(RegistryTest, KeyLockedBeforeItExistsCanBeCreatedButNotChanged) {
  ASSERT_EQ(RegDenyWrite(kUser, "Locked\\Leaf", true), kRegSuccess);
  EXPECT_EQ(RegCreateKey(kUser, "Locked\\Leaf"), kRegSuccess);
  EXPECT_EQ(RegSetValue(kUser, "Locked\\Leaf", "v", kRegSz, "x"), kRegAccessDenied);
  EXPECT_EQ(RegCreateKey(kUser, "Locked\\Leaf\\Below"), kRegAccessDenied);
}

TEST_F(RegistryTest, ReadOnlyHiveRefusesWritesAndStillReads) {
  ASSERT_EQ(RegCreateKey(kUser, "App"), kRegSuccess);
  ASSERT_EQ(RegSetValue(kUser, "App", "v", kRegSz, "kept"), kRegSuccess);
  ASSERT_EQ(chmod((registry_dir_ + "/HKEY_CURRENT_USER.db").c_str(), 0444), 0);

  EXPECT_EQ(RegSetValue(kUser, "App", "v", kRegSz, "new"), kRegAccessDenied);
  EXPECT_EQ(RegOpenKey(kUser, "App", true), kRegAccessDenied);
  EXPECT_EQ(RegCreateKey(kUser, "App\\Sub"), kRegAccessDenied);
  EXPECT_EQ(RegDenyWrite(kUser, "App", true), kRegAccessDenied);
  EXPECT_EQ(RegCreateKey(kUser, "App"), kRegSuccess);
  EXPECT_EQ(RegOpenKey(kUser, "App", false), kRegSuccess);
  EXPECT_EQ(Query(kUser, "App", "v"), "kept");
}

TEST_F(RegistryTest, UnusableDirectoryIsAccessDenied) {
  WriteFile("blocker", "not a directory");
  setenv(kRegistryDirEnvironment, Path("blocker/registry").c_str(), 1);
  EXPECT_EQ(RegCreateKey(kUser, "App"), kRegAccessDenied);
  EXPECT_EQ(RegOpenKey(kUser, "App", false), kRegFileNotFound);
}

TEST_F(RegistryTest, DirectoryFallsBackToTheUsersConfigDirectory) {
  unsetenv(kRegistryDirEnvironment);
  const char* old_config = getenv("XDG_CONFIG_HOME");
  std::string saved = old_config ? old_config : "";
  setenv("XDG_CONFIG_HOME", Path("xdg").c_str(), 1);
  EXPECT_EQ(RegCreateKey(RegistryHive::kClassesRoot, "K"), kRegSuccess);
  EXPECT_TRUE(Exists("xdg/tomerack/registry/HKEY_CLASSES_ROOT.db"));
  if (old_config) {
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
}

TEST_F(RegistryTest, HiveNames) {
  struct Case {
    const char* name;
    bool known;
    RegistryHive hive;
  } cases[] = {
      {"HKEY_LOCAL_MACHINE", true, RegistryHive::kLocalMachine},
      {"hkey_current_user", true, RegistryHive::kCurrentUser},
      {"Hkey_Classes_Root", true, RegistryHive::kClassesRoot},
      {"HKEY_USERS", true, RegistryHive::kUsers},
      {"HKEY_CURRENT_CONFIG", true, RegistryHive::kCurrentConfig},
      {"HKCU", false, {}},
      {"", false, {}},
      {"HKEY_CURRENT_USER ", false, {}},
  };
  for (const Case& c : cases) {
    RegistryHive hive = RegistryHive::kUsers;
    EXPECT_EQ(RegistryHiveFromName(c.name, hive), c.known) << c.name;
    if (c.known) {
      EXPECT_EQ(hive, c.hive) << c.name;
      EXPECT_STRCASEEQ(RegistryHiveName(hive), c.name);
    }
  }
}

// Threads of this process and other processes write at once; each change
// must land, none may fail because the database was busy.
TEST_F(RegistryTest, ConcurrentWritersFromThreadsAndProcesses) {
  constexpr int kWriters = 4;
  constexpr int kValues = 15;
  auto write_all = [](const std::string& who) {
    int failures = 0;
    for (int i = 0; i < kValues; ++i) {
      std::string key = "Shared\\" + who;
      if (RegCreateKey(kUser, key) != kRegSuccess) ++failures;
      if (RegSetValue(kUser, key, "v" + std::to_string(i), kRegSz, who) != kRegSuccess) ++failures;
    }
    return failures;
  };
  std::vector<pid_t> children;
  for (int p = 0; p < kWriters; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(write_all("proc" + std::to_string(p)) == 0 ? 0 : 1);
    children.push_back(pid);
  }
  std::vector<std::thread> threads;
  std::vector<int> failures(kWriters, 0);
  for (int t = 0; t < kWriters; ++t) {
    threads.emplace_back([&, t] { failures[t] = write_all("thread" + std::to_string(t)); });
  }
  for (std::thread& th : threads) th.join();
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int f : failures) EXPECT_EQ(f, 0);
  for (const char* who : {"proc0", "proc3", "thread0", "thread3"}) {
    EXPECT_EQ(Query(kUser, std::string("shared\\") + who, "v" + std::to_string(kValues - 1)), who);
  }
}

}  // namespace
