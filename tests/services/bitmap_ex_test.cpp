#include "services/bitmap_ex.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <map>
#include <vector>

#include "tests/support/sandbox.h"

namespace {

void PutU16(std::string& bytes, size_t offset, uint16_t v) {
  bytes[offset] = static_cast<char>(v & 0xFF);
  bytes[offset + 1] = static_cast<char>(v >> 8);
}

void PutU32(std::string& bytes, size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint32_t GetU32(const std::string& bytes, size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[offset + i]);
  return v;
}

// A BMP file as a writer would lay it out: headers, palette right after
// them, then the pixel bytes exactly as given (rows already padded).
std::string BmpFile(int32_t width, int32_t height, uint16_t bits, const std::string& palette,
                    const std::string& pixels, uint32_t clr_used = 0, uint32_t compression = 0) {
  std::string bytes(54, '\0');
  const uint32_t off_bits = static_cast<uint32_t>(54 + palette.size());
  bytes[0] = 'B';
  bytes[1] = 'M';
  PutU32(bytes, 2, static_cast<uint32_t>(off_bits + pixels.size()));
  PutU32(bytes, 10, off_bits);
  PutU32(bytes, 14, 40);
  PutU32(bytes, 18, static_cast<uint32_t>(width));
  PutU32(bytes, 22, static_cast<uint32_t>(height));
  PutU16(bytes, 26, 1);
  PutU16(bytes, 28, bits);
  PutU32(bytes, 30, compression);
  PutU32(bytes, 34, static_cast<uint32_t>(pixels.size()));
  PutU32(bytes, 46, clr_used);
  return bytes + palette + pixels;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

// A 32-bit pixel row whose pixels are 0xQQRRGGBB values.
std::string Row32(std::initializer_list<uint32_t> pixels) {
  std::string s;
  for (uint32_t p : pixels) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>((p >> (8 * i)) & 0xFF);
  }
  return s;
}

class BitmapExTest : public testing_support::Sandbox {
 protected:
  // Writes the bytes to a file and loads it into bitmap_.
  bool LoadBytes(const std::string& bytes) {
    WriteFile("in.bmp", bytes);
    return bitmap_.Load(Path("in.bmp"));
  }

  CBitmapEx bitmap_;
};

TEST_F(BitmapExTest, EightBitPixelsGoThroughThePaletteTheHeaderCounts) {
  // Three entries as the header counts them (the file holds no more); the
  // fourth byte of an entry is not carried over. Index 5 lies past the
  // palette and comes out black.
  const std::string palette = Bytes({10, 20, 30, 99, 40, 50, 60, 0, 70, 80, 90, 0});
  const std::string pixels = Bytes({0, 1, 2, 0, /* next row */ 2, 5, 0, 0});
  ASSERT_TRUE(LoadBytes(BmpFile(3, 2, 8, palette, pixels, 3)));
  ASSERT_EQ(bitmap_.GetWidth(), 3);
  ASSERT_EQ(bitmap_.GetHeight(), 2);
  const uint32_t expected[2][3] = {{0x001E140A, 0x003C3228, 0x005A5046},
                                   {0x005A5046, 0x00000000, 0x001E140A}};
  for (int row = 0; row < 2; ++row)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(bitmap_.GetPixel(x, row), expected[row][x]) << x << "," << row;

  // The headers now describe the 32-bit image in memory.
  EXPECT_EQ(bitmap_.GetInfoHeader().bit_count, 32);
  EXPECT_EQ(bitmap_.GetFileHeader().off_bits, 54u);
  EXPECT_EQ(bitmap_.GetFileHeader().size, 54u + 3 * 2 * 4);
}

TEST_F(BitmapExTest, EightBitWithoutAColourCountReadsAllTwoHundredFiftySixEntries) {
  std::string palette(256 * 4, '\0');
  palette[255 * 4 + 2] = 0x7F;  // red of the last entry
  ASSERT_TRUE(LoadBytes(BmpFile(1, 1, 8, palette, Bytes({255, 0, 0, 0}))));
  EXPECT_EQ(bitmap_.GetPixel(0, 0), 0x007F0000u);
}

TEST_F(BitmapExTest, SixteenBitFieldsAreCopiedUnscaled) {
  // Five pixels of 2 bytes: a row of 10 bytes padded to 12. Bit 15 is not a
  // colour bit.
  std::string row;
  for (uint16_t v : {0x7FFF, 0x001F, 0x03E0, 0x7C00, 0x8421}) row += Bytes({v & 0xFF, v >> 8});
  row += Bytes({0, 0});
  ASSERT_TRUE(LoadBytes(BmpFile(5, 1, 16, "", row)));
  const uint32_t expected[] = {0x001F1F1F, 0x0000001F, 0x00001F00, 0x001F0000, 0x00010101};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(bitmap_.GetPixel(x, 0), expected[x]) << x;
}

TEST_F(BitmapExTest, TwentyFourAndThirtyTwoBitPixels) {
  // 24 bits: blue, green, red, and the fourth byte 0; rows of 2 pixels are
  // 6 bytes padded to 8.
  ASSERT_TRUE(LoadBytes(BmpFile(2, 1, 24, "", Bytes({1, 2, 3, 4, 5, 6, 0xEE, 0xEE}))));
  EXPECT_EQ(bitmap_.GetPixel(0, 0), 0x00030201u);
  EXPECT_EQ(bitmap_.GetPixel(1, 0), 0x00060504u);
  // 32 bits are kept as they are, fourth byte included.
  ASSERT_TRUE(LoadBytes(BmpFile(1, 1, 32, "", Row32({0xFF332211}))));
  EXPECT_EQ(bitmap_.GetPixel(0, 0), 0xFF332211u);
}

TEST_F(BitmapExTest, TopDownRowsAreTurnedBottomUp) {
  // A negative height stores the top row first.
  ASSERT_TRUE(LoadBytes(BmpFile(1, -2, 32, "", Row32({0x00AAAAAA}) + Row32({0x00BBBBBB}))));
  EXPECT_EQ(bitmap_.GetHeight(), 2);
  EXPECT_EQ(bitmap_.GetPixel(0, 0), 0x00BBBBBBu);
  EXPECT_EQ(bitmap_.GetPixel(0, 1), 0x00AAAAAAu);
}

TEST_F(BitmapExTest, SidesUpToTheLimitLoad) {
  std::string palette(4 * 2, '\0');
  ASSERT_TRUE(LoadBytes(
      BmpFile(CBitmapEx::kMaxSide, 1, 8, palette, std::string(CBitmapEx::kMaxSide, '\1'), 2)));
  EXPECT_EQ(bitmap_.GetWidth(), CBitmapEx::kMaxSide);
}

TEST_F(BitmapExTest, ImpossibleHeadersLeaveTheBitmapEmpty) {
  const std::string small_palette(12, '\0');
  const struct {
    const char* name;
    std::string bytes;
  } kCases[] = {
      {"width near 2^31", BmpFile(INT32_MAX, 1, 24, "", std::string(16, '\0'))},
      {"row length wraps 32 bits", BmpFile(0x40000000, 4, 32, "", std::string(64, '\0'))},
      {"height times row wraps 32 bits", BmpFile(0x10000, 0x10000, 32, "", std::string(64, '\0'))},
      {"negative width", BmpFile(-4, 2, 24, "", std::string(32, '\0'))},
      {"zero width", BmpFile(0, 2, 24, "", std::string(32, '\0'))},
      {"zero height", BmpFile(4, 0, 24, "", std::string(32, '\0'))},
      {"most negative height", BmpFile(1, INT32_MIN, 24, "", std::string(32, '\0'))},
      {"wider than the limit", BmpFile(CBitmapEx::kMaxSide + 1, 1, 8, std::string(8, '\0'),
                                       std::string(CBitmapEx::kMaxSide + 4, '\0'), 2)},
      {"20000 x 20000", BmpFile(20000, 20000, 24, "", std::string(64, '\0'))},
      {"7 bits per pixel", BmpFile(2, 2, 7, "", std::string(16, '\0'))},
      {"64 bits per pixel", BmpFile(2, 2, 64, "", std::string(64, '\0'))},
      {"1 bit per pixel", BmpFile(2, 2, 1, "", std::string(16, '\0'))},
      {"0 bits per pixel", BmpFile(2, 2, 0, "", std::string(16, '\0'))},
      {"palette of 300 entries",
       BmpFile(2, 2, 8, std::string(300 * 4, '\0'), std::string(8, '\0'), 300)},
      {"palette count that wraps when multiplied",
       BmpFile(2, 2, 8, small_palette, std::string(8, '\0'), 0x40000001)},
      {"palette shorter than its count", BmpFile(2, 2, 8, small_palette, std::string(8, '\0'))},
      {"pixel data one byte short", BmpFile(4, 4, 24, "", std::string(4 * 12 - 1, '\0'))},
      {"no pixel data", BmpFile(4, 4, 24, "", "")},
      {"run-length compression", BmpFile(2, 2, 8, small_palette, std::string(8, '\0'), 3, 1)},
      {"bit-field compression", BmpFile(2, 2, 32, "", std::string(16, '\0'), 0, 3)},
      {"only the file header", BmpFile(2, 2, 24, "", std::string(16, '\0')).substr(0, 14)},
      {"empty file", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(LoadBytes(c.bytes));
    EXPECT_TRUE(bitmap_.IsEmpty());
    EXPECT_EQ(bitmap_.GetWidth(), 0);
    EXPECT_EQ(bitmap_.GetHeight(), 0);
  }

  // Fields patched in a file that is otherwise sound.
  const std::string good = BmpFile(2, 2, 24, "", std::string(16, '\x40'));
  const struct {
    const char* name;
    size_t offset;
    uint32_t value;
  } kPatches[] = {
      {"not a BMP file", 0, 0x5A5A},
      {"data offset past the end", 10, 1000},
      {"data offset inside the headers", 10, 20},
      {"information header of 12 bytes", 14, 12},
      {"information header larger than the file", 14, 0xFFFFFFF0},
  };
  for (const auto& p : kPatches) {
    SCOPED_TRACE(p.name);
    std::string bytes = good;
    if (p.offset == 0)
      PutU16(bytes, 0, static_cast<uint16_t>(p.value));
    else
      PutU32(bytes, p.offset, p.value);
    EXPECT_FALSE(LoadBytes(bytes));
    EXPECT_TRUE(bitmap_.IsEmpty());
  }
  EXPECT_TRUE(LoadBytes(good));
}

TEST_F(BitmapExTest, EveryTruncationOfASoundFileIsRefused) {
  const std::string palette = Bytes({1, 2, 3, 0, 4, 5, 6, 0});
  const std::string bytes = BmpFile(3, 2, 8, palette, Bytes({0, 1, 0, 0, 1, 0, 1, 0}), 2);
  for (size_t length = 0; length < bytes.size(); ++length) {
    SCOPED_TRACE(length);
    EXPECT_FALSE(LoadBytes(bytes.substr(0, length)));
  }
  EXPECT_TRUE(LoadBytes(bytes));
}

TEST_F(BitmapExTest, FailedLoadEmptiesALoadedBitmap) {
  ASSERT_TRUE(LoadBytes(BmpFile(1, 1, 32, "", Row32({0x00123456}))));
  EXPECT_FALSE(bitmap_.Load(Path("missing.bmp")));
  EXPECT_TRUE(bitmap_.IsEmpty());
  EXPECT_EQ(bitmap_.GetWidth(), 0);
}

TEST_F(BitmapExTest, SavesTwentyFourBitRowsPaddedToWords) {
  // Three 32-bit pixels a row; saved as 9 bytes padded to 12, the fourth
  // bytes dropped.
  ASSERT_TRUE(LoadBytes(BmpFile(
      3, 2, 32, "",
      Row32({0xFF010203, 0xFF040506, 0xFF070809}) + Row32({0x000A0B0C, 0x000D0E0F, 0x00101112}))));
  ASSERT_TRUE(bitmap_.Save(Path("out.bmp")));
  const std::string out = ReadFile("out.bmp");
  ASSERT_EQ(out.size(), 54u + 2 * 12);
  EXPECT_EQ(out.substr(0, 2), "BM");
  EXPECT_EQ(GetU32(out, 2), out.size());
  EXPECT_EQ(GetU32(out, 10), 54u);
  EXPECT_EQ(GetU32(out, 14), 40u);
  EXPECT_EQ(GetU32(out, 18), 3u);
  EXPECT_EQ(GetU32(out, 22), 2u);
  EXPECT_EQ(static_cast<uint8_t>(out[28]), 24);
  EXPECT_EQ(GetU32(out, 30), 0u);  // no compression
  EXPECT_EQ(GetU32(out, 46), 0u);  // no palette
  EXPECT_EQ(out.substr(54),
            Bytes({3,    2,    1,    6,    5,    4,    9,    8,    7,    0, 0, 0,  //
                   0x0C, 0x0B, 0x0A, 0x0F, 0x0E, 0x0D, 0x12, 0x11, 0x10, 0, 0, 0}));

  // Still 32-bit in memory; the saved file reads back as the same colours.
  EXPECT_EQ(bitmap_.GetInfoHeader().bit_count, 32);
  CBitmapEx again;
  ASSERT_TRUE(again.Load(Path("out.bmp")));
  EXPECT_EQ(again.GetPixel(2, 1), 0x00101112u);

  CBitmapEx empty;
  EXPECT_FALSE(empty.Save(Path("empty.bmp")));
  EXPECT_FALSE(Exists("empty.bmp"));
}

TEST_F(BitmapExTest, GrayUsesWeightsThatAddUpTo255) {
  const struct {
    uint32_t pixel;
    uint8_t grey;
  } kCases[] = {
      {0xFFC8C8C8, 199},  // B = G = R = 200
      {0xFFFFFFFF, 254},  // white
      {0xFFFF0000, 75},   // red alone
      {0xFF00FF00, 149},  // green alone
      {0xFF0000FF, 28},   // blue alone
      {0xFF000000, 0},
  };
  std::string row;
  for (const auto& c : kCases) row += Row32({c.pixel});
  ASSERT_TRUE(LoadBytes(BmpFile(static_cast<int32_t>(std::size(kCases)), 1, 32, "", row)));
  bitmap_.ConvertToGray();
  for (size_t i = 0; i < std::size(kCases); ++i) {
    const uint32_t g = kCases[i].grey;
    EXPECT_EQ(bitmap_.GetPixel(static_cast<int>(i), 0), g | (g << 8) | (g << 16)) << i;
  }
}

TEST_F(BitmapExTest, ScaleNearestSamplesWithTruncatedFixedPointSteps) {
  // A 7 x 3 image whose pixel at column x of row r (bottom row 0) is
  // 0x00RR00XX with RR = r.
  std::string pixels;
  for (uint32_t r = 0; r < 3; ++r)
    for (uint32_t x = 0; x < 7; ++x) pixels += Row32({(r << 16) | x});
  const std::string file = BmpFile(7, 3, 32, "", pixels);

  const struct {
    int width, height;           // asked for
    int got_width, got_height;   // the result's size
    std::map<int, int> columns;  // destination column -> source column
    std::map<int, int> rows;     // destination row -> source row
  } kCases[] = {
      // Steps 7/3 * 256 -> 597 and 3/1 * 256 -> 768: columns 0, 2, 4.
      {3, 1, 3, 1, {{0, 0}, {1, 2}, {2, 4}}, {{0, 0}}},
      // Enlarged: the step 7/300 * 256 = 5.97 is cut to 5, so the last
      // column samples column 5 where exact arithmetic would give 6.
      {300, 2, 300, 2, {{0, 0}, {43, 0}, {52, 1}, {299, 5}}, {{0, 0}, {1, 1}}},
      // Sides below 1 become 1.
      {0, -3, 1, 1, {{0, 0}}, {{0, 0}}},
      {7, 3, 7, 3, {{0, 0}, {3, 3}, {6, 6}}, {{0, 0}, {1, 1}, {2, 2}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
    ASSERT_TRUE(LoadBytes(file));
    ASSERT_TRUE(bitmap_.ScaleNearest(c.width, c.height));
    ASSERT_EQ(bitmap_.GetWidth(), c.got_width);
    ASSERT_EQ(bitmap_.GetHeight(), c.got_height);
    EXPECT_EQ(bitmap_.GetPixels().size(), static_cast<size_t>(c.got_width * c.got_height * 4));
    for (const auto& [row, source_row] : c.rows)
      for (const auto& [x, source_x] : c.columns)
        EXPECT_EQ(bitmap_.GetPixel(x, row), static_cast<uint32_t>((source_row << 16) | source_x))
            << "pixel " << x << "," << row;
  }

  // Beyond the limit, and on an empty bitmap, nothing changes.
  ASSERT_TRUE(LoadBytes(file));
  EXPECT_FALSE(bitmap_.ScaleNearest(CBitmapEx::kMaxSide + 1, 1));
  EXPECT_EQ(bitmap_.GetWidth(), 7);
  CBitmapEx empty;
  EXPECT_FALSE(empty.ScaleNearest(2, 2));
  EXPECT_TRUE(empty.IsEmpty());
}

}  // namespace
