#include "services/registry_methods.h"

#include <gtest/gtest.h>

#include "tests/support/program_dir.h"

namespace {

using Texts = std::vector<std::string>;

class RegistryMethods : public testing_support::ProgramDirSandbox {};

TEST_F(RegistryMethods, ArgumentsAndHivesAreCheckedFirst) {
  struct Case {
    const char* what;
    std::string (*method)(const Texts&);
    Texts arguments;
    const char* result;
  } const cases[] = {
      {"read with three", RegisterRead, {"HKEY_CURRENT_USER", "A", "v"}, "Err:1"},
      {"write with three", RegisterWrite, {"HKEY_CURRENT_USER", "A", "v"}, "Err:1"},
      {"read HKCU", RegisterRead, {"HKCU", "A", "v", ""}, "Err:2"},
      {"write HKCU", RegisterWrite, {"HKCU", "A", "v", "1"}, "Err:2"},
      {"read a missing value", RegisterRead, {"HKEY_CURRENT_USER", "A", "none", ""}, "Err:2"},
      {"read a missing number", RegisterRead, {"HKEY_USERS", "A\\B", "none", "int"}, "Err:2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.method(c.arguments), c.result);
  }
}

TEST_F(RegistryMethods, ValuesGoInAndComeBack) {
  struct Case {
    const char* what;
    Texts write;
    const char* type;  // of the read
    const char* read;
  } const cases[] = {
      {"a text in a lower-case hive", {"hkey_current_user", "Soft\\Tome", "name", "数字教材"}, "",
       "数字教材"},
      {"an int from leading digits", {"HKEY_LOCAL_MACHINE", "Soft\\Tome", "n", "12abc", "int"},
       "INT", "12"},
      {"three new levels", {"HKEY_CLASSES_ROOT", "a/b/c", "deep", "x", "text"}, "text", "x"},
      {"all bits read back signed", {"HKEY_USERS", "N", "max", "4294967295", "int"}, "int", "-1"},
      {"a negative int", {"HKEY_CURRENT_CONFIG", "N", "neg", "  -5x", "Int"}, "int", "-5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(RegisterWrite(c.write), "OK");
    EXPECT_EQ(RegisterRead({c.write[0], c.write[1], c.write[2], c.type}), c.read);
  }
  // Each level of "a/b/c" is a key of its own.
  EXPECT_EQ(RegisterWrite({"HKEY_CLASSES_ROOT", "a\\b", "mid", "m"}), "OK");
  EXPECT_EQ(RegisterRead({"HKEY_CLASSES_ROOT", "a", "mid", ""}), "Err:2");
  EXPECT_EQ(RegisterRead({"HKEY_CLASSES_ROOT", "a\\b", "mid", ""}), "m");
}

TEST_F(RegistryMethods, ATextLongerThanTheReadBufferIsAnError) {
  ASSERT_EQ(RegisterWrite({"HKEY_CURRENT_USER", "Long", "v", std::string(1200, 'x')}), "OK");
  EXPECT_EQ(RegisterRead({"HKEY_CURRENT_USER", "Long", "v", ""}), "Err:234");
}

}  // namespace
