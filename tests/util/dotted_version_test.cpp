#include "util/dotted_version.h"

#include <gtest/gtest.h>

#include <string>

namespace {

int Compare(const char* a, const char* b) {
  std::vector<uint32_t> x, y;
  EXPECT_TRUE(ParseDottedVersion(a, x)) << a;
  EXPECT_TRUE(ParseDottedVersion(b, y)) << b;
  return CompareDottedVersions(x, y);
}

TEST(DottedVersionTest, NumbersCompareAsNumbersNotAsText) {
  struct Case {
    const char* a;
    const char* b;
    int order;  // sign of a against b
  };
  const Case cases[] = {
      {"1.10.0", "1.9.3", 1}, {"1.9.3", "1.10.0", -1}, {"2", "1.99.99", 1},
      {"1.2.3", "1.2.3", 0},  {"1.2", "1.2.0", 0},     {"1.2.0.1", "1.2", 1},
      {"01.2", "1.2", 0},     {"1.0.10", "1.0.9", 1},  {"999999999", "999999998", 1},
      {"0.0.1", "0", 1},      {"3.0", "3.0.0.0.0", 0}, {"4294.1", "4294.01", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    int order = Compare(c.a, c.b);
    EXPECT_EQ((order > 0) - (order < 0), c.order);
  }
}

TEST(DottedVersionTest, AnythingButDottedNumbersIsMalformed) {
  const char* const cases[] = {"",
                               ".",
                               "1.",
                               ".1",
                               "1..2",
                               "1.2a",
                               "v1.2",
                               "1.2.3-beta",
                               " 1.2",
                               "1.2 ",
                               "1,2",
                               "-1.2",
                               "+1",
                               "1.2\n",
                               "1234567890",
                               "1.0x1",
                               "1.2.3.4.5.6.7.8.9.10.11.12.13.14.15.16.17"};
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    std::vector<uint32_t> numbers = {7};
    EXPECT_FALSE(ParseDottedVersion(text, numbers));
    EXPECT_TRUE(numbers.empty());
  }
  std::vector<uint32_t> sixteen;
  EXPECT_TRUE(ParseDottedVersion("1.2.3.4.5.6.7.8.9.10.11.12.13.14.15.16", sixteen));
  EXPECT_EQ(sixteen.size(), 16u);
}

}  // namespace
