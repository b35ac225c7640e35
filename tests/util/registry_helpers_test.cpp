#include "util/registry_helpers.h"

#include <stdlib.h>

#include "tests/support/sandbox.h"

namespace {

using platform::kRegAccessDenied;
using platform::kRegFileNotFound;
using platform::kRegMoreData;
using platform::kRegSuccess;

constexpr RegistryHive kUser = RegistryHive::kCurrentUser;

class RegistryHelpersTest : public testing_support::Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    setenv(platform::kRegistryDirEnvironment, Path("registry").c_str(), 1);
  }
  void TearDown() override {
    unsetenv(platform::kRegistryDirEnvironment);
    Sandbox::TearDown();
  }
};

TEST_F(RegistryHelpersTest, WriteTextCreatesEveryLevel) {
  ASSERT_EQ(RegWriteText("\xd6\xd0\xce\xc4", kUser, "Software\\TomeRack\\Reader", "Name"),
            kRegSuccess);
  for (const char* level : {"Software", "Software\\TomeRack", "Software\\TomeRack\\Reader"}) {
    EXPECT_EQ(platform::RegOpenKey(kUser, level, false), kRegSuccess) << level;
  }
  std::string text = "stale";
  ASSERT_EQ(RegReadText(kUser, "software/tomerack/reader", "NAME", text), kRegSuccess);
  EXPECT_EQ(text, "\xd6\xd0\xce\xc4");
  // Stored as Windows stores it: the bytes, no terminator.
  uint32_t type = 0;
  std::string raw;
  ASSERT_EQ(platform::RegQueryValue(kUser, "Software\\TomeRack\\Reader", "Name", type, raw, 100),
            kRegSuccess);
  EXPECT_EQ(type, platform::kRegSz);
  EXPECT_EQ(raw, "\xd6\xd0\xce\xc4");
}

TEST_F(RegistryHelpersTest, RefusedWriteReportsDenialAndKeepsCreatedLevels) {
  ASSERT_EQ(platform::RegDenyWrite(kUser, "Locked\\Settings\\Leaf", true), kRegSuccess);
  EXPECT_EQ(RegWriteText("x", kUser, "Locked\\Settings\\Leaf", "v"), kRegAccessDenied);
  EXPECT_EQ(RegWriteNumber(1, kUser, "Locked\\Settings\\Leaf", "n"), kRegAccessDenied);
  EXPECT_EQ(platform::RegOpenKey(kUser, "Locked", false), kRegSuccess);
  EXPECT_EQ(platform::RegOpenKey(kUser, "Locked\\Settings", false), kRegSuccess);
  std::string text;
  EXPECT_EQ(RegReadText(kUser, "Locked\\Settings\\Leaf", "v", text), kRegFileNotFound);
}

TEST_F(RegistryHelpersTest, TextBufferHoldsAThousandBytes) {
  const std::string fits(1000, 'a');
  ASSERT_EQ(RegWriteText(fits, kUser, "K", "fits"), kRegSuccess);
  ASSERT_EQ(RegWriteText(fits + "b", kUser, "K", "long"), kRegSuccess);
  std::string text;
  EXPECT_EQ(RegReadText(kUser, "K", "fits", text), kRegSuccess);
  EXPECT_EQ(text, fits);
  text = "stale";
  EXPECT_EQ(RegReadText(kUser, "K", "long", text), kRegMoreData);
  EXPECT_EQ(text, "");
}

TEST_F(RegistryHelpersTest, TextEndsAtFirstZeroByte) {
  ASSERT_EQ(RegWriteText(std::string("ab\0cd", 5), kUser, "K", "v"), kRegSuccess);
  std::string text;
  ASSERT_EQ(RegReadText(kUser, "K", "v", text), kRegSuccess);
  EXPECT_EQ(text, "ab");
}

TEST_F(RegistryHelpersTest, NumbersKeepAllThirtyTwoBits) {
  for (uint32_t value : {0u, 12u, 0x80000000u, 4294967295u}) {
    ASSERT_EQ(RegWriteNumber(value, kUser, "Numbers\\Sub", "n"), kRegSuccess);
    uint32_t read = 7;
    ASSERT_EQ(RegReadNumber(kUser, "Numbers\\Sub", "n", read), kRegSuccess);
    EXPECT_EQ(read, value);
  }
  uint32_t type = 0;
  std::string raw;
  ASSERT_EQ(platform::RegQueryValue(kUser, "Numbers\\Sub", "n", type, raw, 4), kRegSuccess);
  EXPECT_EQ(type, platform::kRegDword);
  EXPECT_EQ(raw, std::string("\xff\xff\xff\xff", 4));
}

TEST_F(RegistryHelpersTest, NumberReadFailures) {
  ASSERT_EQ(RegWriteText("12", kUser, "K", "short"), kRegSuccess);
  ASSERT_EQ(RegWriteText("12345", kUser, "K", "long"), kRegSuccess);
  uint32_t n = 0;
  EXPECT_EQ(RegReadNumber(kUser, "Missing", "n", n), kRegFileNotFound);
  EXPECT_EQ(RegReadNumber(kUser, "K", "absent", n), kRegFileNotFound);
  EXPECT_EQ(RegReadNumber(kUser, "K", "long", n), kRegMoreData);
  // A short text is not a number, whatever its bytes would say.
  EXPECT_NE(RegReadNumber(kUser, "K", "short", n), kRegSuccess);
}

}  // namespace
