#include "data/driver_text_decoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/codepage.h"

namespace {

bool IsAscii(std::string_view text) {
  const char* p = text.data();
  size_t n = text.size();
  // Eight bytes at a time: most cells of a result are ASCII.
  for (; n >= 8; p += 8, n -= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    if ((word & 0x8080808080808080ull) != 0) return false;
  }
  for (; n > 0; ++p, --n) {
    if (static_cast<unsigned char>(*p) >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::string_view DriverTextDecoder::ToAnsi(std::string_view text) {
  if (IsAscii(text)) return text;
  // Lenient: an invalid sequence becomes U+FFFD, as in Utf8ToAnsi.
  (void)platform::Utf8ToUtf16(text, wide_, platform::Utf8Mode::kLenient);
  if (!table_) table_ = std::make_unique<Entry[]>(1 << 16);
  out_.clear();
  for (char16_t unit : wide_) {
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      // Surrogate pairs stand for one character together: the whole text
      // goes through the ordinary conversion.
      out_ = platform::Utf16ToGbk(wide_);
      return out_;
    }
    Entry& entry = table_[unit];
    if (entry.length == 0) {
      // Code page 936 (or its "?") takes at most two bytes for a character.
      std::string ansi = platform::Utf16ToGbk(std::u16string_view(&unit, 1));
      entry.length = static_cast<unsigned char>(std::min<size_t>(ansi.size(), 2));
      std::copy_n(ansi.data(), entry.length, entry.bytes);
    }
    out_.append(entry.bytes, entry.length);
  }
  return out_;
}

void DriverTextDecoder::ToAnsi(std::string& text) {
  std::string_view converted = ToAnsi(std::string_view(text));
  // Converted into out_: take it, and keep the old text's storage for the
  // next conversion.
  if (converted.data() != text.data()) text.swap(out_);
}
