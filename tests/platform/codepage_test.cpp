#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_system.h"
#include "tests/support/sandbox.h"

namespace {

using namespace platform;

std::string Utf8(const char8_t* text) {
  return reinterpret_cast<const char*>(text);
}

TEST(Codepage, ConvertsBetweenGbkAndUnicode) {
  EXPECT_EQ(GbkToUtf8("\xD6\xD0\xCE\xC4"), "\xE4\xB8\xAD\xE6\x96\x87");
  EXPECT_EQ(Utf8ToGbk("\xE4\xB8\xAD\xE6\x96\x87"), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(GbkToUtf16("A\xD6\xD0"), u"A\u4E2D");
  EXPECT_EQ(Utf16ToGbk(u"A\u4E2D"), "A\xD6\xD0");
  // Code page 936 holds the euro sign at 0x80, as Windows has it.
  EXPECT_EQ(GbkToUtf8("\x80"), Utf8(u8"€"));
  EXPECT_EQ(GbkToUtf8(""), "");
}

TEST(Codepage, UnrepresentableCharactersBecomeOneQuestionMarkEach) {
  const struct {
    std::u16string in;
    std::string out;
  } kCases[] = {
      {u"a\u2122b", "a?b"},                   // no "(TM)" transliteration
      {u"\U0001F600x", "?x"},                 // a surrogate pair is one character
      {u"\xD800y", "?y"},                     // an unpaired surrogate
      {u"\u00E9\u4E2D", "\xA8\xA6\xD6\xD0"},  // é exists in GBK
  };
  for (const auto& c : kCases) EXPECT_EQ(Utf16ToGbk(c.in), c.out);
  EXPECT_EQ(GbkToUtf16("\xFF"), u"?");
  EXPECT_EQ(GbkToUtf16("a\x81"), u"a?");  // lead byte without its trail byte
}

TEST(Codepage, StrictAndLenientUtf8) {
  std::u16string out;
  EXPECT_FALSE(Utf8ToUtf16("\xC3\x41", out, Utf8Mode::kStrict));
  EXPECT_TRUE(out.empty());
  ASSERT_TRUE(Utf8ToUtf16("\xC3\x41", out, Utf8Mode::kLenient));
  EXPECT_EQ(out, u"\uFFFDA");
  EXPECT_FALSE(Utf8ToUtf16("\xC0\x80", out, Utf8Mode::kStrict));      // overlong
  EXPECT_FALSE(Utf8ToUtf16("\xED\xA0\x80", out, Utf8Mode::kStrict));  // surrogate
  ASSERT_TRUE(Utf8ToUtf16("\xF0\x9F\x98\x80", out, Utf8Mode::kStrict));
  EXPECT_EQ(out, u"\U0001F600");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

TEST(Codepage, RepresentableTexts) {
  EXPECT_TRUE(IsRepresentableInGbk(Utf8(u8"/home/老师/教材")));
  EXPECT_FALSE(IsRepresentableInGbk(Utf8(u8"/home/user/😀")));
  EXPECT_FALSE(IsRepresentableInGbk("/home/\xFF"));  // not UTF-8 at all
}

TEST(Codepage, UpperCasingLeavesTrailBytesAlone) {
  // 0x81 0x61 is one double-byte character whose trail byte is "a".
  EXPECT_EQ(GbkToUpper("ab\x81\x61z"), "AB\x81\x61Z");
}

using FileSystemNames = testing_support::Sandbox;

TEST_F(FileSystemNames, GbkPathsAreUtf8OnDisk) {
  const std::string gbk_name = "\xBD\xCC\xB2\xC4.txt";  // 教材.txt
  std::string path = dir() + "/" + gbk_name;
  {
    File f(path, OpenMode::kCreateTruncate);
    ASSERT_TRUE(f.IsOpen());
    ASSERT_TRUE(f.Write("x", 1));
  }
  EXPECT_TRUE(std::filesystem::exists(dir() + "/" + Utf8(u8"教材.txt")));
  std::vector<DirectoryEntry> entries;
  ASSERT_TRUE(ListDirectory(dir(), "*.TXT", entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, gbk_name);
  entries.clear();
  WriteFile("noext", "");
  ASSERT_TRUE(ListDirectory(dir(), "*.*", entries));
  EXPECT_EQ(entries.size(), 4u);  // ".", "..", both files
}

}  // namespace
