// The table-driven output encoder must answer what GbkToUtf8 answers, in
// pieces that end on character boundaries.
#include "data/ansi_utf8_encoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"

namespace {

std::vector<std::string> Encode(AnsiToUtf8Encoder& encoder, const std::string& text) {
  std::vector<std::string> pieces;
  EXPECT_TRUE(encoder.Encode(text, [&pieces](std::string_view piece) {
    pieces.emplace_back(piece);
    return true;
  }));
  return pieces;
}

std::string Joined(const std::vector<std::string>& pieces) {
  std::string all;
  for (const std::string& piece : pieces) all += piece;
  return all;
}

// Every character of one or two bytes, each once from the conversion and
// once from the table.
TEST(AnsiToUtf8EncoderTest, EveryCharacterAgreesWithGbkToUtf8) {
  AnsiToUtf8Encoder encoder;
  for (int round = 0; round < 2; ++round) {
    for (int first = 0x80; first <= 0xFF; ++first) {
      for (int second = platform::IsGbkLeadByte(first) ? 0x40 : 0x100; second <= 0x100; ++second) {
        std::string character(1, static_cast<char>(first));
        if (second < 0x100) character += static_cast<char>(second);
        std::string text = "a" + character + "z";
        ASSERT_EQ(Joined(Encode(encoder, text)), platform::GbkToUtf8(text))
            << testing::PrintToString(character);
      }
    }
  }
}

TEST(AnsiToUtf8EncoderTest, BytesThatFormNoCharacter) {
  const struct {
    std::string ansi;
    std::string utf8;
  } kCases[] = {
      {"", ""},
      {"plain \\ \"ascii\"\r\n", "plain \\ \"ascii\"\r\n"},
      {"\x80", reinterpret_cast<const char*>(u8"€")},
      // A lead byte before a byte below 0x40, or at the end, stands alone;
      // the byte after it is kept.
      {"\x81" "0\xD1\xA7", reinterpret_cast<const char*>(u8"?0学")},
      {"\xD1\xA7\xD1", reinterpret_cast<const char*>(u8"学?")},
      // With a byte of 0x40 or more it is one character, "?" if there is
      // none such.
      {"\xD1\x7F!", "?!"},
      {"\xFF\xD1\xA7", reinterpret_cast<const char*>(u8"?学")},
  };
  AnsiToUtf8Encoder encoder;
  for (const auto& c : kCases) {
    EXPECT_EQ(Joined(Encode(encoder, c.ansi)), c.utf8) << testing::PrintToString(c.ansi);
  }
}

// A text of several mebibytes goes out in pieces of about one; a character
// that falls on a piece's end is never split.
TEST(AnsiToUtf8EncoderTest, LargeTextsGoOutInWholeCharacters) {
  std::string text;
  // Odd offsets put double-byte characters across every mebibyte mark.
  for (size_t i = 0; text.size() < (size_t{3} << 20) + 5; ++i) {
    text += i % 3 == 0 ? "\xD1\xA7\xC9\xFA" : "row, \"x\" ";
    if (i % 1000 == 0) text += std::string(4093, 'a');
  }
  AnsiToUtf8Encoder encoder;
  std::vector<std::string> pieces = Encode(encoder, text);
  ASSERT_GE(pieces.size(), 4u);
  for (const std::string& piece : pieces) {
    EXPECT_LE(piece.size(), (size_t{1} << 20) + 4);
    std::u16string wide;
    EXPECT_TRUE(platform::Utf8ToUtf16(piece, wide, platform::Utf8Mode::kStrict));
  }
  EXPECT_EQ(Joined(pieces), platform::GbkToUtf8(text));

  int calls = 0;
  EXPECT_FALSE(encoder.Encode(text, [&calls](std::string_view) {
    ++calls;
    return false;
  }));
  EXPECT_EQ(calls, 1);
}

}  // namespace
