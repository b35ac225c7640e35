#include "data/ansi_utf8_encoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/codepage.h"

namespace {

constexpr size_t kPieceBytes = 1 << 20;

// Table slots: 128 for the single bytes 0x80-0xFF, then one for each pair
// of a lead byte 0x81-0xFE and a second byte 0x40-0xFF.
constexpr unsigned kSingleSlots = 128;
constexpr unsigned kSecondBytes = 0x100 - 0x40;
constexpr unsigned kSlots = kSingleSlots + (0xFE - 0x81 + 1) * kSecondBytes;

// The end of the run of ASCII bytes from start, at most end; eight bytes at
// a time, since most of an answer is ASCII.
size_t AsciiRunEnd(const unsigned char* bytes, size_t start, size_t end) {
  size_t i = start;
  for (; i + 8 <= end; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    if ((word & 0x8080808080808080ull) != 0) break;
  }
  while (i < end && bytes[i] < 0x80) ++i;
  return i;
}

}  // namespace

const AnsiToUtf8Encoder::Entry& AnsiToUtf8Encoder::Lookup(std::string_view character,
                                                         unsigned index) {
  Entry& entry = table_[index];
  if (entry.length == 0) {
    // One or two bytes of code page 936 are one character of at most three
    // bytes of UTF-8 ("?" when the code page has none).
    std::string utf8 = platform::GbkToUtf8(character);
    if (utf8.empty() || utf8.size() > sizeof entry.bytes) utf8 = "?";
    std::copy(utf8.begin(), utf8.end(), entry.bytes);
    entry.length = static_cast<unsigned char>(utf8.size());
  }
  return entry;
}

bool AnsiToUtf8Encoder::Encode(std::string_view text,
                               const std::function<bool(std::string_view)>& sink) {
  if (!table_) table_ = std::make_unique<Entry[]>(kSlots);
  // Room for a whole piece and the last character that crosses its end.
  out_.resize(kPieceBytes + sizeof(Entry::bytes));
  char* const piece = out_.data();
  size_t used = 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  size_t i = 0;
  while (i < size) {
    // A run of ASCII, copied whole as far as the piece has room.
    size_t start = i;
    i = AsciiRunEnd(bytes, i, std::min(size, i + (kPieceBytes - used)));
    std::memcpy(piece + used, text.data() + start, i - start);
    used += i - start;
    // Then characters until the next ASCII byte or the end of the piece.
    while (i < size && bytes[i] >= 0x80 && used < kPieceBytes) {
      unsigned char c = bytes[i];
      const Entry* entry;
      if (platform::IsGbkLeadByte(c) && i + 1 < size && bytes[i + 1] >= 0x40) {
        entry = &Lookup(text.substr(i, 2),
                        kSingleSlots + (c - 0x81) * kSecondBytes + (bytes[i + 1] - 0x40));
        i += 2;
      } else {
        entry = &Lookup(text.substr(i, 1), c - 0x80);
        i += 1;
      }
      std::memcpy(piece + used, entry->bytes, sizeof entry->bytes);
      used += entry->length;
    }
    if (used >= kPieceBytes) {
      if (!sink(std::string_view(piece, used))) return false;
      used = 0;
    }
  }
  if (used > 0 && !sink(std::string_view(piece, used))) return false;
  return true;
}
