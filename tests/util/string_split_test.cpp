#include "util/string_split.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Parts = std::vector<std::string>;

// 乗: a code page 936 character whose trail byte is the backslash.
const std::string kTrailBackslash = "\x81\x5C";

TEST(SplitStringTest, CutsAtSeparator) {
  struct Case {
    std::string text;
    std::string separator;
    bool skip_empty;
    Parts expected;
  };
  const Case cases[] = {
      {"a;;b;", ";", false, {"a", "", "b", ""}},
      {"a;;b;", ";", true, {"a", "b"}},
      {";a", ";", false, {"", "a"}},
      {"abc", ";", false, {"abc"}},
      {"", ";", false, {""}},
      {"", ";", true, {}},
      {"a\r\nb\r\n\r\nc", "\r\n", false, {"a", "b", "", "c"}},
      {"a;;;b", ";;", false, {"a", ";b"}},
      {"a\xD6\xD0"
       "b",
       "\xD6\xD0",
       false,
       {"a", "b"}},
      {kTrailBackslash + "\\x", "\\", false, {kTrailBackslash, "x"}},
      // 啊啊: the separator's bytes straddle two characters.
      {"\xB0\xA1\xB0\xA1", "\xA1\xB0", false, {"\xB0\xA1\xB0\xA1"}},
  };
  for (const Case& c : cases) {
    Parts parts;
    ASSERT_TRUE(SplitString(parts, c.separator, c.text, c.skip_empty));
    EXPECT_EQ(parts, c.expected) << testing::PrintToString(c.text);
  }
}

TEST(SplitStringTest, AppendsToListAndRefusesEmptySeparator) {
  Parts parts = {"kept"};
  ASSERT_TRUE(SplitString(parts, ",", "a,b", true));
  EXPECT_EQ(parts, (Parts{"kept", "a", "b"}));

  EXPECT_FALSE(SplitString(parts, "", "a,b", false));
  EXPECT_EQ(parts, (Parts{"kept", "a", "b"}));
}

TEST(SplitByCharactersTest, EveryListedByteEndsAToken) {
  struct Case {
    std::string text;
    const char* separators;
    Parts expected;
  };
  const Case cases[] = {
      {";a;;b", ";", {"a", "b"}},
      {"a,b;c", ",;", {"a", "b", "c"}},
      {"", ";", {}},
      {";;;", ";", {}},
      {"abc", "", {"abc"}},
      // Byte-wise: the trail byte ends a token and leaves the lead byte alone.
      {kTrailBackslash + "x", "\\", {"\x81", "x"}},
  };
  for (const Case& c : cases) {
    Parts parts;
    ASSERT_TRUE(SplitByCharacters(c.text.c_str(), parts, c.separators));
    EXPECT_EQ(parts, c.expected) << testing::PrintToString(c.text);
  }
}

TEST(SplitByCharactersTest, AppendsAndRefusesMissingInput) {
  Parts parts = {"kept"};
  ASSERT_TRUE(SplitByCharacters("x y", parts, " "));
  EXPECT_EQ(parts, (Parts{"kept", "x", "y"}));

  EXPECT_FALSE(SplitByCharacters(nullptr, parts, ";"));
  EXPECT_FALSE(SplitByCharacters("a;b", parts, nullptr));
  EXPECT_EQ(parts, (Parts{"kept", "x", "y"}));
}

}  // namespace
