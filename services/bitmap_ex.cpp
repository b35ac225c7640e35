#include "services/bitmap_ex.h"

#include <algorithm>
#include <cstring>

#include "platform/file_system.h"

namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kHeadersSize = kFileHeaderSize + kInfoHeaderSize;
constexpr uint16_t kBitmapType = 0x4D42;  // "BM" read as a little-endian word
constexpr uint32_t kMaxPaletteEntries = 256;

uint16_t ReadU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void WriteU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void WriteU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Row lengths in the file are padded to whole 32-bit words.
uint64_t PaddedRowLength(uint64_t width, uint64_t bytes_per_pixel) {
  return (width * bytes_per_pixel + 3) & ~uint64_t{3};
}

// Reads exactly count bytes from the current position; false when the file
// ends first.
bool ReadExactly(platform::File& file, void* buffer, size_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    int64_t n = file.Read(p, count);
    if (n <= 0) return false;
    p += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

BitmapFileHeader ParseFileHeader(const uint8_t* p) {
  BitmapFileHeader h;
  h.type = ReadU16(p);
  h.size = ReadU32(p + 2);
  h.reserved1 = ReadU16(p + 6);
  h.reserved2 = ReadU16(p + 8);
  h.off_bits = ReadU32(p + 10);
  return h;
}

BitmapInfoHeader ParseInfoHeader(const uint8_t* p) {
  BitmapInfoHeader h;
  h.size = ReadU32(p);
  h.width = static_cast<int32_t>(ReadU32(p + 4));
  h.height = static_cast<int32_t>(ReadU32(p + 8));
  h.planes = ReadU16(p + 12);
  h.bit_count = ReadU16(p + 14);
  h.compression = ReadU32(p + 16);
  h.size_image = ReadU32(p + 20);
  h.x_pels_per_meter = static_cast<int32_t>(ReadU32(p + 24));
  h.y_pels_per_meter = static_cast<int32_t>(ReadU32(p + 28));
  h.clr_used = ReadU32(p + 32);
  h.clr_important = ReadU32(p + 36);
  return h;
}

}  // namespace

void CBitmapEx::Clear() {
  file_header_ = BitmapFileHeader();
  info_header_ = BitmapInfoHeader();
  pixels_.clear();
  pixels_.shrink_to_fit();
}

void CBitmapEx::Describe32Bit(int width, int height) {
  const uint32_t data_size = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 4u;
  file_header_.type = kBitmapType;
  file_header_.size = data_size + kHeadersSize;
  file_header_.off_bits = kHeadersSize;
  info_header_.size = kInfoHeaderSize;
  info_header_.width = width;
  info_header_.height = height;
  info_header_.planes = 1;
  info_header_.bit_count = 32;
  info_header_.compression = 0;
  info_header_.size_image = data_size;
  info_header_.clr_used = 0;
  info_header_.clr_important = 0;
}

bool CBitmapEx::Load(const std::string& path) {
  Clear();
  platform::File file(path, platform::OpenMode::kRead);
  if (!file.IsOpen()) return false;

  uint8_t headers[kHeadersSize];
  if (!ReadExactly(file, headers, sizeof headers)) return false;
  const BitmapFileHeader file_header = ParseFileHeader(headers);
  const BitmapInfoHeader info = ParseInfoHeader(headers + kFileHeaderSize);

  // Every size below is checked in 64 bits before anything is allocated, so
  // no header value can make a computation wrap or a read leave the file.
  if (file_header.type != kBitmapType) return false;
  if (info.size < kInfoHeaderSize) return false;  // the older 12-byte header is not read
  if (info.compression != 0) return false;
  const uint32_t bits = info.bit_count;
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  if (info.width <= 0 || info.width > kMaxSide) return false;
  // A negative height marks rows stored top row first; they are read and
  // turned into the bottom-up order this class keeps.
  const int64_t signed_height = info.height;
  const bool top_down = signed_height < 0;
  const int64_t height = top_down ? -signed_height : signed_height;
  if (height == 0 || height > kMaxSide) return false;
  const int width = info.width;
  const int rows = static_cast<int>(height);

  const uint64_t file_size = static_cast<uint64_t>(std::max<int64_t>(file.Size(), 0));
  const uint64_t palette_offset = uint64_t{kFileHeaderSize} + info.size;
  uint32_t palette_entries = 0;
  if (bits == 8) {
    palette_entries = info.clr_used == 0 ? kMaxPaletteEntries : info.clr_used;
    if (palette_entries > kMaxPaletteEntries) return false;
  }
  const uint64_t palette_end = palette_offset + uint64_t{palette_entries} * 4;
  const uint64_t bytes_per_pixel = bits / 8;
  const uint64_t row_length = PaddedRowLength(static_cast<uint64_t>(width), bytes_per_pixel);
  const uint64_t data_size = row_length * static_cast<uint64_t>(height);
  if (file_header.off_bits < palette_end) return false;
  if (uint64_t{file_header.off_bits} + data_size > file_size) return false;

  // Indices past the palette's last entry come out black.
  uint8_t palette[kMaxPaletteEntries * 4] = {};
  if (palette_entries > 0) {
    if (file.Seek(static_cast<int64_t>(palette_offset)) != static_cast<int64_t>(palette_offset))
      return false;
    if (!ReadExactly(file, palette, palette_entries * 4u)) return false;
  }

  if (file.Seek(file_header.off_bits) != static_cast<int64_t>(file_header.off_bits)) return false;
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(rows) * 4u);
  std::vector<uint8_t> row(static_cast<size_t>(row_length));
  for (int r = 0; r < rows; ++r) {
    // A file that shrank since its size was taken ends the load.
    if (!ReadExactly(file, row.data(), row.size())) return false;
    const int target_row = top_down ? rows - 1 - r : r;
    uint8_t* out = pixels.data() + static_cast<size_t>(target_row) * width * 4u;
    const uint8_t* in = row.data();
    for (int x = 0; x < width; ++x, out += 4) {
      switch (bits) {
        case 8: {
          const uint8_t* entry = palette + in[x] * 4u;
          out[0] = entry[0];
          out[1] = entry[1];
          out[2] = entry[2];
          out[3] = 0;
          break;
        }
        case 16: {
          // Three 5-bit fields, kept at their 0..31 values.
          const uint16_t v = ReadU16(in + x * 2);
          out[0] = static_cast<uint8_t>(v & 0x1F);
          out[1] = static_cast<uint8_t>((v >> 5) & 0x1F);
          out[2] = static_cast<uint8_t>((v >> 10) & 0x1F);
          out[3] = 0;
          break;
        }
        case 24:
          std::memcpy(out, in + x * 3, 3);
          out[3] = 0;
          break;
        default:
          std::memcpy(out, in + x * 4, 4);
          break;
      }
    }
  }

  file_header_ = file_header;
  info_header_ = info;
  pixels_ = std::move(pixels);
  Describe32Bit(width, rows);
  return true;
}

bool CBitmapEx::Save(const std::string& path) const {
  if (IsEmpty()) return false;
  const int width = GetWidth();
  const int height = GetHeight();
  const size_t row_length = static_cast<size_t>(PaddedRowLength(static_cast<uint64_t>(width), 3));
  const size_t data_size = row_length * static_cast<size_t>(height);

  std::vector<uint8_t> out(kHeadersSize + data_size, 0);
  uint8_t* f = out.data();
  WriteU16(f, kBitmapType);
  WriteU32(f + 2, static_cast<uint32_t>(out.size()));
  WriteU32(f + 10, kHeadersSize);
  uint8_t* h = f + kFileHeaderSize;
  WriteU32(h, kInfoHeaderSize);
  WriteU32(h + 4, static_cast<uint32_t>(width));
  WriteU32(h + 8, static_cast<uint32_t>(height));
  WriteU16(h + 12, 1);
  WriteU16(h + 14, 24);
  WriteU32(h + 20, static_cast<uint32_t>(data_size));
  WriteU32(h + 24, static_cast<uint32_t>(info_header_.x_pels_per_meter));
  WriteU32(h + 28, static_cast<uint32_t>(info_header_.y_pels_per_meter));

  const uint8_t* in = pixels_.data();
  for (int r = 0; r < height; ++r) {
    uint8_t* row = out.data() + kHeadersSize + static_cast<size_t>(r) * row_length;
    for (int x = 0; x < width; ++x, in += 4) std::memcpy(row + x * 3, in, 3);
  }

  platform::File file(path, platform::OpenMode::kCreateTruncate);
  if (!file.IsOpen()) return false;
  const bool written = file.Write(out.data(), out.size());
  return file.Close() && written;
}

void CBitmapEx::ConvertToGray() {
  for (size_t i = 0; i + 3 < pixels_.size(); i += 4) {
    uint8_t* p = pixels_.data() + i;
    // The weights add up to 255, so white comes out as 254.
    const auto v = static_cast<uint8_t>((76u * p[2] + 150u * p[1] + 29u * p[0]) >> 8);
    p[0] = p[1] = p[2] = v;
    p[3] = 0;
  }
}

bool CBitmapEx::ScaleNearest(int new_width, int new_height) {
  if (IsEmpty()) return false;
  new_width = std::max(new_width, 1);
  new_height = std::max(new_height, 1);
  if (new_width > kMaxSide || new_height > kMaxSide) return false;
  const int old_width = GetWidth();
  const int old_height = GetHeight();

  // Steps in fixed point with 8 fraction bits, computed in single precision
  // and truncated.
  const auto x_step =
      static_cast<int64_t>(static_cast<float>(old_width) / static_cast<float>(new_width) * 256.0f);
  const auto y_step = static_cast<int64_t>(static_cast<float>(old_height) /
                                           static_cast<float>(new_height) * 256.0f);

  std::vector<uint8_t> scaled(static_cast<size_t>(new_width) * static_cast<size_t>(new_height) *
                              4u);
  uint8_t* out = scaled.data();
  for (int y = 0; y < new_height; ++y) {
    // The truncated steps never reach past the last row or column; the bound
    // keeps that true whatever the rounding.
    const int64_t source_row = std::min<int64_t>((y * y_step) >> 8, old_height - 1);
    const uint8_t* source = pixels_.data() + static_cast<size_t>(source_row) * old_width * 4u;
    for (int x = 0; x < new_width; ++x, out += 4) {
      const int64_t source_x = std::min<int64_t>((x * x_step) >> 8, old_width - 1);
      std::memcpy(out, source + source_x * 4, 4);
    }
  }
  pixels_ = std::move(scaled);
  Describe32Bit(new_width, new_height);
  return true;
}

uint32_t CBitmapEx::GetPixel(int x, int row) const {
  if (x < 0 || row < 0 || x >= GetWidth() || row >= GetHeight() || IsEmpty()) return 0;
  const uint8_t* p = pixels_.data() + (static_cast<size_t>(row) * GetWidth() + x) * 4u;
  return ReadU32(p);
}
