// The table-driven decoder must answer exactly what Utf8ToAnsi answers.
#include "data/driver_text_decoder.h"

#include <gtest/gtest.h>

#include "util/text_encoding.h"

namespace {

TEST(DriverTextDecoderTest, AgreesWithUtf8ToAnsi) {
  const std::string kTexts[] = {
      "",
      "plain ascii \\ \"",
      reinterpret_cast<const char*>(u8"中文 and 乗誠 €"),
      reinterpret_cast<const char*>(u8"ümlaut, ™, \u00A0, ÿ"),  // outside code page 936 or not
      reinterpret_cast<const char*>(u8"emoji 😀 after 学生"),    // a surrogate pair
      "bad \xC3 lone lead, \x80 stray, \xE4\xB8 cut",           // invalid UTF-8
      "\xED\xA0\x80 encoded surrogate",
      "\xE0\x80\xAF and \xC0\xAF overlong, \xF8 no lead at all",
      std::string("zero \0 inside ", 14) + reinterpret_cast<const char*>(u8"中文\u07FF\u0800\uFFFF"),
  };
  DriverTextDecoder decoder;
  // Twice: the second round answers from the table.
  for (int round = 0; round < 2; ++round) {
    for (const std::string& utf8 : kTexts) {
      std::string expected;
      ASSERT_TRUE(Utf8ToAnsi(std::string_view(utf8), expected));
      std::string text = utf8;
      decoder.ToAnsi(text);
      EXPECT_EQ(text, expected) << testing::PrintToString(utf8);
      // The view form answers the same, zero-terminated as the dataset
      // text's escape needs.
      std::string_view view = decoder.ToAnsi(std::string_view(utf8));
      EXPECT_EQ(view, expected) << testing::PrintToString(utf8);
      EXPECT_EQ(view.data()[view.size()], '\0');
    }
  }
}

}  // namespace
