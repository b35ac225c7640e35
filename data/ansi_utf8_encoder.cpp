#include "data/ansi_utf8_encoder.h"

#include <algorithm>

#include "platform/codepage.h"

namespace {

constexpr size_t kPieceBytes = 1 << 20;

// Table slots: 128 for the single bytes 0x80-0xFF, then one for each pair
// of a lead byte 0x81-0xFE and a second byte 0x40-0xFF.
constexpr unsigned kSingleSlots = 128;
constexpr unsigned kSecondBytes = 0x100 - 0x40;
constexpr unsigned kSlots = kSingleSlots + (0xFE - 0x81 + 1) * kSecondBytes;

}  // namespace

void AnsiToUtf8Encoder::AppendCharacter(std::string_view character, unsigned index) {
  Entry& entry = table_[index];
  if (entry.length == 0) {
    std::string utf8 = platform::GbkToUtf8(character);
    if (utf8.empty() || utf8.size() > sizeof entry.bytes) {
      out_ += utf8;  // never seen: not kept
      return;
    }
    std::copy(utf8.begin(), utf8.end(), entry.bytes);
    entry.length = static_cast<unsigned char>(utf8.size());
  }
  out_.append(entry.bytes, entry.length);
}

bool AnsiToUtf8Encoder::Encode(std::string_view text,
                               const std::function<bool(std::string_view)>& sink) {
  if (!table_) table_ = std::make_unique<Entry[]>(kSlots);
  out_.clear();
  out_.reserve(kPieceBytes + 64);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  size_t i = 0;
  while (i < size) {
    // A run of ASCII, copied whole as far as the piece has room.
    size_t start = i;
    size_t end = std::min(size, i + (kPieceBytes - out_.size()));
    while (i < end && bytes[i] < 0x80) ++i;
    out_.append(text.data() + start, i - start);
    // Then characters until the next ASCII byte or the end of the piece.
    while (i < size && bytes[i] >= 0x80 && out_.size() < kPieceBytes) {
      unsigned char c = bytes[i];
      if (platform::IsGbkLeadByte(c) && i + 1 < size && bytes[i + 1] >= 0x40) {
        unsigned index = kSingleSlots + (c - 0x81) * kSecondBytes + (bytes[i + 1] - 0x40);
        AppendCharacter(text.substr(i, 2), index);
        i += 2;
      } else {
        AppendCharacter(text.substr(i, 1), c - 0x80);
        i += 1;
      }
    }
    if (out_.size() >= kPieceBytes) {
      if (!sink(out_)) return false;
      out_.clear();
    }
  }
  if (!out_.empty() && !sink(out_)) return false;
  out_.clear();
  return true;
}
