#include "util/identifiers.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

int Value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

// What the receiving page does: recovers the hex text from a mixed output,
// or reports a bad check digit.
bool Unmix(const std::string& mixed, std::string& hex) {
  const size_t k = mixed.size();
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < k; ++i) sum += static_cast<uint8_t>(mixed[i]);
  if (Value(mixed[k - 1]) != static_cast<int>(sum % 16)) return false;
  auto diff = [&](size_t a, size_t b) { return (Value(mixed[a]) - Value(mixed[b]) + 16) % 16; };
  const size_t n = static_cast<size_t>(diff(1, 0) * 16 + diff(2, 1));
  if (n + 4 > k) return false;
  hex.clear();
  for (size_t j = 0; j < n; ++j) hex += "0123456789abcdef"[diff(k - n - 1 + j, j)];
  return true;
}

bool IsIdentifierText(const std::string& s) {
  return s.size() == 32 && s.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

TEST(IdentifierText, FormatOfGuidBytes) {
  EXPECT_EQ(IdentifierTextFromGuid({0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99,
                                    0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff}),
            "00112233445566778899AABBCCDDEEFF");
  EXPECT_EQ(IdentifierTextFromGuid(
                {0xff, 0xfe, 0xfd, 0xfc, 0x80, 0x01, 0x00, 0x0a, 0, 0, 0, 0, 0, 0, 0, 0x01}),
            "FFFEFDFC8001000A0000000000000001");
  EXPECT_EQ(IdentifierTextFromGuid({}), "");
}

TEST(IdentifierText, NewTextsAreDistinctHex) {
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string text = NewIdentifierText();
    ASSERT_TRUE(IsIdentifierText(text)) << text;
    EXPECT_TRUE(seen.insert(text).second) << "repeated " << text;
  }
}

TEST(IdentifierMixHex, StatusesAndOutputLength) {
  const std::string key32 = "3F2504E04F8911D39A0C0305E82C3301";
  const struct {
    size_t hex_digits;
    size_t key_length;
    int32_t status;
    bool output_is_key;
  } kCases[] = {
      {29, 32, kMixKeyTooShort, false}, {28, 32, kMixOk, false},
      {8, 32, kMixOk, false},           {0, 4, kMixOk, false},
      {0, 3, kMixKeyTooShort, false},   {255, 259, kMixOk, false},
      {256, 260, kMixHexTooLong, true}, {300, 303, kMixKeyTooShort, false},
  };
  for (const auto& c : kCases) {
    std::string key;
    while (key.size() < c.key_length) key += key32;
    key.resize(c.key_length);
    const std::string hex(c.hex_digits, 'a');
    std::string out = "stale";
    EXPECT_EQ(MixHexWithKey(out, hex, key), c.status) << c.hex_digits << "/" << c.key_length;
    if (c.status == kMixKeyTooShort) {
      EXPECT_EQ(out, "");
    } else if (c.output_is_key) {
      EXPECT_EQ(out, key);
    } else {
      ASSERT_EQ(out.size(), key.size());
      // Position 0 and the ones between the length code and the data keep the key.
      const size_t d = c.key_length - c.hex_digits;
      EXPECT_EQ(out[0], key[0]);
      EXPECT_EQ(out.substr(3, d - 4), key.substr(3, d - 4));
      std::string back;
      ASSERT_TRUE(Unmix(out, back)) << out;
      EXPECT_EQ(back, hex);
    }
  }
}

TEST(IdentifierMixHex, KnownOutputs) {
  const struct {
    std::string hex, key, mixed;
  } kCases[] = {
      {"70617373", "0123456789ABCDEF0123456789ABCDEF", "0083456789ABCDEF012345670E4B8DAB"},
      {"70617373776f7264", "3F2504E04F8911D39A0C0305E82C3301", "344504E04F8911DA4A67753B6E8833E4"},
      {"", "ABCD", "AAA3"},
      // Non-digits count as 0, and high bytes add to the check digit unsigned.
      {"ff", "z\xd6\xd0q0000000", "z02q0000FF9"},
      {"", "\xd6\xd6\xd6\xd6\xd6\xd6\xd6\xd6",
       "\xd6"
       "00\xd6\xd6\xd6\xd6"
       "E"},
  };
  for (const auto& c : kCases) {
    std::string out;
    EXPECT_EQ(MixHexWithKey(out, c.hex, c.key), kMixOk) << c.hex;
    EXPECT_EQ(out, c.mixed) << c.hex;
  }
}

TEST(IdentifierMixText, Table) {
  const std::string key32 = "3F2504E04F8911D39A0C0305E82C3301";
  const struct {
    std::string text, key;
    int32_t status;
    std::string carried;  // what the page recovers
  } kCases[] = {
      {"12345678901234567890", key32, kMixTextShortened, "12345678901234"},
      {"12345678901234", key32, kMixOk, "12345678901234"},
      {"123456789012345", key32, kMixTextShortened, "12345678901234"},
      {"", key32, kMixOk, ""},
      {"密码", key32, kMixOk, "密码"},
      {"", "ABCDE", kMixOk, ""},
      {"a", "ABCDE", kMixTextShortened, ""},
      {"ab", key32 + "0", kMixOk, "ab"},  // odd key: (33 - 4) / 2 = 14 bytes fit
      {std::string(200, 'x'), std::string(600, '1'), kMixTextShortened, std::string(127, 'x')},
  };
  for (const auto& c : kCases) {
    std::string out = "stale";
    EXPECT_EQ(MixTextWithKey(out, c.text, c.key), c.status) << c.text;
    ASSERT_EQ(out.size(), c.key.size()) << c.text;
    std::string hex;
    ASSERT_TRUE(Unmix(out, hex)) << c.text;
    std::string carried;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
      carried += static_cast<char>(Value(hex[i]) * 16 + Value(hex[i + 1]));
    }
    EXPECT_EQ(carried, c.carried) << c.text;
  }
}

TEST(IdentifierMixText, KeyUnderFiveCharactersGivesEmptyOutput) {
  for (const std::string key : {"", "A", "ABCD"}) {
    std::string out = "stale";
    EXPECT_EQ(MixTextWithKey(out, "pw", key), kMixTextShortened) << key;
    EXPECT_EQ(out, "") << key;
  }
}

TEST(IdentifierMixText, FreshIdentifierKeyGivesIdentifierShapedOutput) {
  std::string out;
  EXPECT_EQ(MixTextWithKey(out, "secret", NewIdentifierText()), kMixOk);
  EXPECT_TRUE(IsIdentifierText(out)) << out;
}

}  // namespace
