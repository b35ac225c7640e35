#include "util/text_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tests/support/sandbox.h"
#include "util/script_value.h"

using namespace std::literals;

namespace {

constexpr std::string_view kGbkZhongWen = "\xD6\xD0\xCE\xC4";           // 中文
constexpr std::string_view kUtf8ZhongWen = "\xE4\xB8\xAD\xE6\x96\x87";  // 中文

TEST(AnsiUtf8Test, ConvertsBothWays) {
  struct Case {
    std::string_view ansi;
    std::string_view utf8;
  };
  const Case cases[] = {
      {"", ""},
      {"plain ASCII", "plain ASCII"},
      {kGbkZhongWen, kUtf8ZhongWen},
      {"\x80", "\xE2\x82\xAC"},  // code page 936 keeps the euro sign at 0x80
      {"a\xA3\xAC"
       "b",
       "a\xEF\xBC\x8C"
       "b"},  // full-width comma
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AnsiToUtf8(c.ansi), c.utf8);
    std::string ansi = "stale";
    EXPECT_TRUE(Utf8ToAnsi(std::string(c.utf8).c_str(), ansi));
    EXPECT_EQ(ansi, c.ansi);
  }
}

TEST(AnsiUtf8Test, CharacterOutsideCodePageBecomesOneQuestionMark) {
  std::string ansi;
  ASSERT_TRUE(
      Utf8ToAnsi("a\xED\x95\x9C"
                 "b\xF0\x9F\x98\x80",
                 ansi));  // Hangul, emoji
  EXPECT_EQ(ansi, "a?b?");
}

TEST(AnsiUtf8Test, NullInputGivesEmptyOutput) {
  std::string ansi = "stale";
  EXPECT_TRUE(Utf8ToAnsi(static_cast<const char*>(nullptr), ansi));
  EXPECT_EQ(ansi, "");
}

TEST(Utf8BufferToAnsiTest, StrictWithCapacityForTerminator) {
  char out[16];
  size_t capacity = sizeof out;
  ASSERT_TRUE(Utf8BufferToAnsi(kUtf8ZhongWen.data(), kUtf8ZhongWen.size(), out, capacity));
  EXPECT_EQ(capacity, 4u);
  EXPECT_EQ(std::string_view(out), kGbkZhongWen);

  // Four bytes of text need five with the terminator.
  capacity = 4;
  EXPECT_FALSE(Utf8BufferToAnsi(kUtf8ZhongWen.data(), kUtf8ZhongWen.size(), out, capacity));
  capacity = 5;
  EXPECT_TRUE(Utf8BufferToAnsi(kUtf8ZhongWen.data(), kUtf8ZhongWen.size(), out, capacity));

  // Only count bytes are read, and one bad sequence fails the whole text.
  capacity = sizeof out;
  ASSERT_TRUE(Utf8BufferToAnsi("abcdef", 3, out, capacity));
  EXPECT_EQ(std::string_view(out), "abc");
  capacity = sizeof out;
  EXPECT_FALSE(Utf8BufferToAnsi("\xC3\x41", 2, out, capacity));
  capacity = sizeof out;
  EXPECT_FALSE(Utf8BufferToAnsi("\xE4\xB8", 2, out, capacity));

  capacity = sizeof out;
  out[0] = 'x';
  EXPECT_TRUE(Utf8BufferToAnsi("", 0, out, capacity));
  EXPECT_EQ(capacity, 0u);
  EXPECT_EQ(out[0], '\0');
}

TEST(UnicodeToAnsiBufferTest, ConvertsIntoCallerBuffer) {
  const std::u16string wide = u"中文";
  char out[8];
  size_t capacity = sizeof out;
  ASSERT_TRUE(UnicodeToAnsiBuffer(wide.data(), wide.size(), out, capacity));
  EXPECT_EQ(capacity, 4u);
  EXPECT_EQ(std::string_view(out), kGbkZhongWen);

  capacity = 4;
  EXPECT_FALSE(UnicodeToAnsiBuffer(wide.data(), wide.size(), out, capacity));

  capacity = sizeof out;
  out[0] = 'x';
  EXPECT_TRUE(UnicodeToAnsiBuffer(wide.data(), 0, out, capacity));
  EXPECT_EQ(capacity, 0u);
  EXPECT_EQ(out[0], '\0');
}

TEST(IsUtf8TextTest, FollowsLeadAndContinuationPattern) {
  struct Case {
    std::string_view bytes;
    bool expected;
  };
  const Case cases[] = {
      {"", false},
      {"abc", false},  // pure ASCII is not taken for UTF-8
      {"\xC3\xA9", true},
      {"\xC3\x41", false},
      {"\xE4\xB8", false},  // cut short
      {kUtf8ZhongWen, true},
      {"\xF0\x9F\x98\x80", true},
      {"\x80"
       "a",
       false},  // a continuation byte cannot come first
      {"a\xBF", false},
      {kGbkZhongWen, false},
      {"\xC0\x80", true},  // overlong forms are not rejected
      {"\xFE\x80\x80\x80\x80", true},
      {"\xFF\x80\x80\x80\x80", true},
      {"\xFE\x80\x80\x80", false},
      {"\xFC\x80\x80\x80\x80\x80", true},
      {"\xFC\x80\x80\x80\x80", false},
      {"ab\0\xC3\xA9"sv, true},  // the whole length counts, zero bytes included
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsUtf8Text(c.bytes.data(), c.bytes.size()), c.expected)
        << testing::PrintToString(std::string(c.bytes));
  }
}

class ReadTextFileAsAnsiTest : public testing_support::Sandbox {};

TEST_F(ReadTextFileAsAnsiTest, DecodesByMarkOrContent) {
  struct Case {
    std::string_view content;
    std::string_view expected;
  };
  const Case cases[] = {
      {"\xFF\xFE"
       "A\0B\0"sv,
       "AB"},
      {"\xFE\xFF\0A\0B"sv, "AB"},
      {"\xFF\xFE\x2D\x4E\x87\x65", kGbkZhongWen},
      {"\xFF\xFE"
       "A\0\0\0B\0"sv,
       "A"},  // cut at the first zero unit
      {"\xFF\xFE"
       "A\0B"sv,
       "A"},                      // odd last byte ignored
      {"\xFF\xFE\x5C\xD5", "?"},  // Hangul has no code page 936 form
      {"\xFF\xFE", ""},
      {"\xEF\xBB\xBF"
       "A",
       "A"},
      {"\xEF\xBB\xBF\xE4\xB8\xAD", "\xD6\xD0"},
      {kUtf8ZhongWen, kGbkZhongWen},
      {kGbkZhongWen, kGbkZhongWen},
      {"hello\r\n", "hello\r\n"},
      {"ab\0cd"sv, "ab"},
      // GBK 茅 is also UTF-8 for e-acute, which takes two bytes in GBK again:
      // no shrinkage, so the file is kept as it is.
      {"\xC3\xA9", "\xC3\xA9"},
      {"\xC3\xA9\0"sv, "\xA8\xA6"},  // shorter than the file, zero byte included
      // GBK 纮 passes the loose UTF-8 pattern but is an overlong form.
      {"\xC0\x80", "\xC0\x80"},
  };
  for (const Case& c : cases) {
    WriteFile("t.txt", std::string(c.content));
    std::string text = "stale";
    ASSERT_TRUE(ReadTextFileAsAnsi(Path("t.txt"), text))
        << testing::PrintToString(std::string(c.content));
    EXPECT_EQ(text, c.expected) << testing::PrintToString(std::string(c.content));
  }
}

TEST_F(ReadTextFileAsAnsiTest, EmptyOrMissingFileFailsAndLeavesOutput) {
  WriteFile("empty.txt", "");
  std::string text = "kept";
  EXPECT_FALSE(ReadTextFileAsAnsi(Path("empty.txt"), text));
  EXPECT_FALSE(ReadTextFileAsAnsi(Path("missing.txt"), text));
  EXPECT_FALSE(ReadTextFileAsAnsi(dir(), text));
  EXPECT_EQ(text, "kept");
}

TEST(UrlEncodeTextTest, KeepsOnlyLettersAndDigits) {
  struct Case {
    std::string_view text;
    std::string_view expected;
  };
  const Case cases[] = {
      {"", ""},
      {"abcXYZ019", "abcXYZ019"},
      {" \t\n\v\f\r", "++++++"},
      {"a-b_c.d~", "a%2Db%5Fc%2Ed%7E"},
      {"%+/", "%25%2B%2F"},
      {kUtf8ZhongWen, "%E4%B8%AD%E6%96%87"},
      {"a\0b"sv, "a%00b"},
  };
  for (const Case& c : cases) EXPECT_EQ(UrlEncodeText(c.text), c.expected);
}

TEST(PageBoundaryConversionTest, ConvertsWholeString) {
  EXPECT_EQ(AnsiToUnicode(kGbkZhongWen), u"中文");
  EXPECT_EQ(UnicodeToAnsi(u"中文"), kGbkZhongWen);
  EXPECT_EQ(AnsiToUnicode("a\0b"sv), u"a\0b"sv);
  EXPECT_EQ(UnicodeToAnsi(u"a\0b"sv), "a\0b"sv);
  EXPECT_EQ(AnsiToUnicode(""), u"");
  EXPECT_EQ(UnicodeToAnsi(u""), "");
  EXPECT_EQ(UnicodeToAnsi(u"\xD55C\U0001F600."), "??.");  // a surrogate pair is one character
}

TEST(VariantToTextTest, RendersEachKind) {
  const int32_t referenced_number = 42;
  const std::u16string referenced_text = u"引用";
  struct Case {
    const char* name;
    ScriptValue value;
    std::string expected;
  };
  const Case cases[] = {
      {"empty", ScriptValue(), ""},
      {"null", ScriptValue::Null(), ""},
      {"int16", ScriptValue::Int16(-32768), "-32768"},
      {"int32", ScriptValue::Int32(2147483647), "2147483647"},
      {"true", ScriptValue::Bool(true), "-1"},
      {"false", ScriptValue::Bool(false), "0"},
      {"byte", ScriptValue::Byte(200), "200"},
      {"int32 ref", ScriptValue::Int32Ref(&referenced_number), "42"},
      {"float", ScriptValue::Float(1.5f), "1.500000"},
      {"double", ScriptValue::Double(-0.25), "-0.250000"},
      {"large double", ScriptValue::Double(1e20), "100000000000000000000.000000"},
      {"string", ScriptValue::String(u"中文"), std::string(kGbkZhongWen)},
      {"string ref", ScriptValue::StringRef(&referenced_text), "引用"},
      {"other", ScriptValue::Other(), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(VariantToText(c.value), c.expected) << c.name;
}

}  // namespace
