// The program's own 32-bit bitmap for the pixel work of the image methods:
// it reads uncompressed BMP files, turns pixels into grey levels, scales with
// nearest-neighbour sampling and writes 24-bit BMP files.
//
// In memory every pixel is 4 bytes (blue, green, red, a fourth byte) and the
// rows are kept in the order of a BMP file, bottom row first. Row numbers of
// the accessors count in that order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The 14-byte file header of a BMP file, field by field.
struct BitmapFileHeader {
  uint16_t type = 0;  // "BM"
  uint32_t size = 0;
  uint16_t reserved1 = 0;
  uint16_t reserved2 = 0;
  uint32_t off_bits = 0;  // where the pixel rows begin
};

// The 40-byte information header of a BMP file, field by field.
struct BitmapInfoHeader {
  uint32_t size = 0;
  int32_t width = 0;
  int32_t height = 0;
  uint16_t planes = 0;
  uint16_t bit_count = 0;
  uint32_t compression = 0;
  uint32_t size_image = 0;
  int32_t x_pels_per_meter = 0;
  int32_t y_pels_per_meter = 0;
  uint32_t clr_used = 0;
  uint32_t clr_important = 0;
};

class CBitmapEx {
 public:
  // Neither side may be longer than this; larger images are not loaded.
  static constexpr int kMaxSide = 16384;

  CBitmapEx() = default;

  // Reads a BMP file of 8, 16, 24 or 32 bits per pixel, without compression,
  // and converts it to 32 bits per pixel. A file that cannot be opened, or
  // whose headers describe an image the file does not hold, leaves the bitmap
  // empty. Path is a code page 936 text. True when an image was read.
  bool Load(const std::string& path);

  // Writes the image as a 24-bit BMP file; the bitmap stays 32-bit. An empty
  // bitmap writes nothing. True when the whole file was written.
  [[nodiscard]] bool Save(const std::string& path) const;

  // Every pixel becomes the grey value (76 R + 150 G + 29 B) >> 8 in its
  // three colour bytes, with the fourth byte 0.
  void ConvertToGray();

  // Resamples to the new size (each side below 1 becomes 1) by nearest
  // neighbour with 8-bit fixed-point steps. An empty bitmap, or a new size
  // beyond kMaxSide, leaves the bitmap as it is and gives false.
  bool ScaleNearest(int new_width, int new_height);

  int GetWidth() const { return info_header_.width; }
  int GetHeight() const { return info_header_.height; }
  bool IsEmpty() const { return pixels_.empty(); }

  // The pixel as 0xQQRRGGBB (Q the fourth byte); row 0 is the bottom row.
  // Outside the image: 0.
  uint32_t GetPixel(int x, int row) const;
  // The rows, bottom row first, width * 4 bytes each.
  const std::vector<uint8_t>& GetPixels() const { return pixels_; }

  const BitmapFileHeader& GetFileHeader() const { return file_header_; }
  const BitmapInfoHeader& GetInfoHeader() const { return info_header_; }

 private:
  void Clear();
  // Makes the headers describe the 32-bit image now in pixels_.
  void Describe32Bit(int width, int height);

  BitmapFileHeader file_header_;
  BitmapInfoHeader info_header_;
  std::vector<uint8_t> pixels_;
};
