#include "util/json_escape.h"

#include <cJSON.h>
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"

namespace {

// 乗: a code page 936 character whose trail byte is the backslash.
constexpr std::string_view kTrailBackslash = "\x81\x5C";

std::string EscapeToBuffer(const std::string& text) {
  // Exactly the size the callers promise, so an overrun shows under ASan.
  std::vector<char> buffer(2 * text.size() + 1, 'x');
  size_t written = JsonEscapeToBuffer(buffer.data(), text.c_str());
  EXPECT_EQ(buffer[written], '\0');
  return std::string(buffer.data(), written);
}

TEST(JsonEscapeToBufferTest, EscapesTheSevenCharactersBytewise) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"\b\t\n\f\r\"\\", "\\b\\t\\n\\f\\r\\\"\\\\"},
      {"\x01\x0B\x1F/", "\x01\x0B\x1F/"},  // other controls and the slash pass
      {"\xD6\xD0\xCE\xC4\xFF", "\xD6\xD0\xCE\xC4\xFF"},
      // A double-byte character passes whole, trail byte 0x5C included; a
      // real backslash after it is still escaped.
      {std::string(kTrailBackslash), std::string(kTrailBackslash)},
      {"\xD5\x5C\\", "\xD5\x5C\\\\"},
      // Lead bytes pair from the left: 81 81 is one character, so the 5C
      // after it stands alone.
      {"\x81\x81\x5C", "\x81\x81\x5C\x5C"},
      // A lead byte before an invalid trail, or at the end, stands alone.
      {"\x81\"", "\x81\\\""},
      {"\x81\n", "\x81\\n"},
      {"a\x81", "a\x81"},
      {"\xFF\\", "\xFF\\\\"},  // 0xFF leads nothing
      {std::string(1000, '"'),
       [] {
         std::string s;
         for (int i = 0; i < 1000; ++i) s += "\\\"";
         return s;
       }()},
  };
  for (const Case& c : cases) EXPECT_EQ(EscapeToBuffer(c.text), c.expected);
}

// What a reader of the dataset text sees: the escaped value between quotes,
// converted to UTF-8 and parsed as JSON, must give back the original text.
TEST(JsonEscapeToBufferTest, EscapedTextSurvivesConversionAndParsing) {
  const std::string texts[] = {
      std::string(kTrailBackslash),
      "\xD5\x5C\"\xD5\x5C\\",
      "\xB0\xA1\x81\x5C\n\t\"end",
  };
  for (const std::string& original : texts) {
    std::string json = "\"" + EscapeToBuffer(original) + "\"";
    cJSON* parsed = cJSON_Parse(platform::GbkToUtf8(json).c_str());
    ASSERT_NE(parsed, nullptr) << testing::PrintToString(original);
    ASSERT_TRUE(cJSON_IsString(parsed));
    EXPECT_EQ(platform::Utf8ToGbk(cJSON_GetStringValue(parsed)), original)
        << testing::PrintToString(original);
    cJSON_Delete(parsed);
  }
}

TEST(JsonEscapeToBufferTest, NullTextWritesNothing) {
  char buffer[1] = {'x'};
  EXPECT_EQ(JsonEscapeToBuffer(buffer, nullptr), 0u);
}

TEST(JsonEscapeStringTest, EscapesCharacterAware) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"", ""},
      {"say \"hi\"\\now\n", "say \\\"hi\\\"\\\\now\\n"},
      {"\b\f\r\n\t", "\\b\\f\\r\\n\\t"},
      {"\\n", "\\\\n"},  // a backslash before a letter is not an escape yet
      {std::string(kTrailBackslash), std::string(kTrailBackslash)},
      {std::string(kTrailBackslash) + "\"", std::string(kTrailBackslash) + "\\\""},
      // A lead byte without a valid trail stands alone: the quote after it is
      // still escaped.
      {"\x81\"", "\x81\\\""},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    JsonEscapeString(text);
    EXPECT_EQ(text, c.expected);
  }
}

TEST(JsonUnescapeStringTest, DecodesTheSevenEscapes) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"\\\\n", "\\n"},  // an escaped backslash, then the letter n
      {"\\\\\\\\", "\\\\"},
      {"\\\\\\n", "\\\n"},
      {"\\\"\\b\\f\\r\\n\\t", "\"\b\f\r\n\t"},
      {"\\/ \\u0041 \\x", "\\/ \\u0041 \\x"},  // not decoded
      {std::string(kTrailBackslash) + "n", std::string(kTrailBackslash) + "n"},
      // The stand-in for escaped backslashes cannot be told from the same
      // characters in the text.
      {"\n\r\t\t\r\n", "\\"},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    JsonUnescapeString(text);
    EXPECT_EQ(text, c.expected) << testing::PrintToString(c.text);
  }
}

TEST(JsonUnescapeStringTest, InvertsJsonEscapeString) {
  const std::string texts[] = {
      "",
      "a \"quoted\" \\path\\ with\r\nlines\tand\btabs\f",
      "\\\\server\\share\\",
      std::string(kTrailBackslash) + "\\" + std::string(kTrailBackslash) + "\"",
      "\xD6\xD0\xCE\xC4\n",
  };
  for (const std::string& original : texts) {
    std::string text = original;
    JsonEscapeString(text);
    JsonUnescapeString(text);
    EXPECT_EQ(text, original) << testing::PrintToString(original);
  }
}

TEST(AnsiReplaceAllTest, ReplacesWholeCharactersLeftToRight) {
  struct Case {
    std::string text;
    std::string old_text;
    std::string new_text;
    std::string expected;
    size_t count;
  };
  const Case cases[] = {
      {"aXbXc", "X", "YY", "aYYbYYc", 2},
      {"a--b--", "--", "", "ab", 2},
      {"aaaaa", "aa", "b", "bba", 2},  // non-overlapping
      {"abc", "", "z", "abc", 0},
      {"abc", "abcd", "z", "abc", 0},
      {"abc", "abc", "", "", 1},
      {std::string(kTrailBackslash) + "\\", "\\", "/", std::string(kTrailBackslash) + "/", 1},
      // 啊啊: the bytes A1 B0 straddle two characters.
      {"\xB0\xA1\xB0\xA1", "\xA1\xB0", "-", "\xB0\xA1\xB0\xA1", 0},
      // A match may not end on a lead byte.
      {"\xB0\xA1", "\xB0", "-", "\xB0\xA1", 0},
      {"a\xB0\xA1", "\xB0\xA1", "-", "a-", 1},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    EXPECT_EQ(AnsiReplaceAll(text, c.old_text, c.new_text), c.count);
    EXPECT_EQ(text, c.expected);
  }
}

}  // namespace
