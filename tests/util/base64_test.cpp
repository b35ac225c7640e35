#include "util/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

std::string EncodeText(const std::string& input) {
  CBase64Coding coder;
  std::string text = "stale";
  EXPECT_TRUE(coder.EncodeRawToText(input.data(), input.size(), text));
  return text;
}

// Every byte value, repeated so that some groups straddle a line break.
std::string AllBytes(size_t count) {
  std::string s(count, '\0');
  for (size_t i = 0; i < count; ++i) s[i] = static_cast<char>((i * 7 + i / 256) & 0xff);
  return s;
}

TEST(Base64Encode, PaddingAlwaysEndsWithEquals) {
  const struct {
    std::string input, text;
  } kCases[] = {
      {"", "="},
      {"a", "YQ=="},
      {"ab", "YWI="},
      {"abc", "YWJj="},
      {"abcd", "YWJjZA=="},
      {std::string("\xff\xfe\x00", 3), "//4A="},
      {std::string("\x00\x10\x83\x10\x51\x87\x20\x92\x8b\x30\xd3\x8f\x41\x14\x93\x51\x55\x97\x61"
                   "\x96\x9b\x71\xd7\x9f\x82\x18\xa3\x92\x59\xa7\xa2\x9a\xab\xb2\xdb\xaf\xc3\x1c"
                   "\xb3\xd3\x5d\xb7\xe3\x9e\xbb\xf3\xdf\xbf",
                   48),
       "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(EncodeText(c.input), c.text) << "input length " << c.input.size();
    CBase64Coding coder;
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(coder.EncodeBytesToBytes(Bytes(c.input), bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.text);
  }
}

TEST(Base64Encode, TextEncodersBreakAfterEvery72Characters) {
  const std::string q = "QUFB";  // three bytes of 0x41
  std::string full_line;
  for (int i = 0; i < 18; ++i) full_line += q;

  const struct {
    size_t bytes;
    std::string text;
  } kCases[] = {
      {53, full_line.substr(0, 68) + "QUE="},
      {54, full_line + "\r\n="},
      {55, full_line + "\r\nQQ=="},
      {108, full_line + "\r\n" + full_line + "\r\n="},
      {110, full_line + "\r\n" + full_line + "\r\nQUE="},
  };
  for (const auto& c : kCases) {
    const std::string input(c.bytes, 'A');
    EXPECT_EQ(EncodeText(input), c.text) << c.bytes << " bytes";

    CBase64Coding coder;
    std::string from_vector;
    EXPECT_TRUE(coder.EncodeBytesToText(Bytes(input), from_vector));
    EXPECT_EQ(from_vector, c.text) << c.bytes << " bytes";

    std::vector<uint8_t> unbroken;
    EXPECT_TRUE(coder.EncodeBytesToBytes(Bytes(input), unbroken));
    std::string expected = c.text;
    std::erase(expected, '\r');
    std::erase(expected, '\n');
    EXPECT_EQ(std::string(unbroken.begin(), unbroken.end()), expected) << c.bytes << " bytes";
  }
}

TEST(Base64Encode, EveryLineOfLongTextHas72Characters) {
  const std::string text = EncodeText(AllBytes(54 * 40 + 20));
  size_t start = 0;
  int lines = 0;
  for (size_t eol; (eol = text.find("\r\n", start)) != std::string::npos; start = eol + 2) {
    EXPECT_EQ(eol - start, 72u) << "line " << lines;
    ++lines;
  }
  EXPECT_EQ(lines, 40);
  EXPECT_EQ(text.substr(start), text.substr(text.size() - 28));  // 20 bytes: 28 characters
  EXPECT_EQ(text.back(), '=');
}

TEST(Base64Decode, RoundTripOfEveryEncoderIsTrue) {
  for (size_t size : {0u, 1u, 2u, 3u, 53u, 54u, 55u, 107u, 108u, 1000u, 4096u}) {
    const std::string input = AllBytes(size);
    CBase64Coding coder;
    std::vector<uint8_t> decoded;
    EXPECT_TRUE(coder.DecodeText(EncodeText(input), decoded)) << size;
    EXPECT_EQ(std::string(decoded.begin(), decoded.end()), input) << size;

    std::vector<uint8_t> text;
    EXPECT_TRUE(coder.EncodeBytesToBytes(Bytes(input), text));
    decoded.clear();
    EXPECT_TRUE(coder.DecodeBytes(text, decoded)) << size;
    EXPECT_EQ(std::string(decoded.begin(), decoded.end()), input) << size;
  }
}

TEST(Base64Decode, Table) {
  const struct {
    std::string text;
    bool result;
    std::string bytes;
  } kCases[] = {
      {"YWJj=", true, "abc"},
      {"YWJj", false, "abc"},  // complete groups kept, but no end marker
      {"YWJjZGVm", false, "abcdef"},
      {"", false, ""},
      {"=", true, ""},
      {"YWJj=garbage*", true, "abc"},  // nothing after the end marker is looked at
      {"YQ==", true, "a"},
      {"YQ=", false, ""},  // a group cut short fails, "=" or not
      {"Y=", false, ""},
      {"YQ=*", false, ""},  // the whole group is checked before its "=" counts
      {"Y=*x", false, ""},
      {"YQ=A", true, "a"},
      {"YWI=", true, "ab"},
      {"YWJjZ===", true, "abc"},  // "=" as second character: the group adds nothing
      {"YW Jj\r\n=", true, "abc"},
      {"\t Y\nW\rJ j =", true, "abc"},
      {"YWJj\r\n", false, ""},  // ends inside a group, even if only white space is left
      {"YWJjZA", false, ""},
      {"YWJjZ", false, ""},
      {"YWJ*=", false, ""},
      {"YW-j=", false, ""},
      {std::string("YW\0j=", 5), false, ""},
      {"YWJj\x80WJj=", false, ""},
      {"//4A=", true, std::string("\xff\xfe\x00", 3)},
  };
  for (const auto& c : kCases) {
    CBase64Coding coder;
    std::vector<uint8_t> bytes = Bytes("previous content");
    EXPECT_EQ(coder.DecodeText(c.text, bytes), c.result) << '"' << c.text << '"';
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.bytes) << '"' << c.text << '"';

    bytes = Bytes("previous content");
    EXPECT_EQ(coder.DecodeBytes(Bytes(c.text), bytes), c.result) << '"' << c.text << '"';
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.bytes) << '"' << c.text << '"';
  }
}

TEST(Base64Decode, IntoItsOwnText) {
  CBase64Coding coder;
  std::vector<uint8_t> buffer = Bytes("SGVsbG8sIHdvcmxk=");
  EXPECT_TRUE(coder.DecodeBytes(buffer, buffer));
  EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "Hello, world");
}

TEST(Base64Decode, ExplicitTableBuildMatchesLazyBuild) {
  CBase64Coding built;
  built.BuildDecodeTable();
  CBase64Coding lazy;
  std::vector<uint8_t> a, b;
  EXPECT_TRUE(built.DecodeText("SGVsbG8s\r\nIHdvcmxk=", a));
  EXPECT_TRUE(lazy.DecodeText("SGVsbG8s\r\nIHdvcmxk=", b));
  EXPECT_EQ(std::string(a.begin(), a.end()), "Hello, world");
  EXPECT_EQ(a, b);
}

}  // namespace
