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

const DriverTextDecoder::Entry& DriverTextDecoder::Lookup(char16_t unit) {
  Entry& entry = table_[unit];
  if (entry.length == 0) {
    // Code page 936 (or its "?") takes at most two bytes for a character.
    std::string ansi = platform::Utf16ToGbk(std::u16string_view(&unit, 1));
    entry.length = static_cast<unsigned char>(std::min<size_t>(ansi.size(), 2));
    std::copy_n(ansi.data(), entry.length, entry.bytes);
  }
  return entry;
}

bool DriverTextDecoder::DecodeCommon(std::string_view text) {
  // Each character takes at most as many bytes in code page 936 as in UTF-8.
  out_.resize(text.size());
  char* out = out_.data();
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    unsigned char c = s[i];
    char16_t unit;
    if (c < 0x80) {
      *out++ = static_cast<char>(c);
      ++i;
      continue;
    }
    if (c >= 0xC2 && c <= 0xDF && i + 1 < n && (s[i + 1] & 0xC0) == 0x80) {
      unit = static_cast<char16_t>(((c & 0x1F) << 6) | (s[i + 1] & 0x3F));
      i += 2;
    } else if (c >= 0xE0 && c <= 0xEF && i + 2 < n && (s[i + 1] & 0xC0) == 0x80 &&
               (s[i + 2] & 0xC0) == 0x80) {
      unit = static_cast<char16_t>(((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) |
                                   (s[i + 2] & 0x3F));
      if (unit < 0x800 || (unit >= 0xD800 && unit <= 0xDFFF)) return false;
      i += 3;
    } else {
      return false;  // four bytes, or not UTF-8
    }
    const Entry& entry = Lookup(unit);
    std::copy_n(entry.bytes, entry.length, out);
    out += entry.length;
  }
  out_.resize(static_cast<size_t>(out - out_.data()));
  return true;
}

std::string_view DriverTextDecoder::ToAnsi(std::string_view text) {
  if (IsAscii(text)) return text;
  if (!table_) table_ = std::make_unique<Entry[]>(1 << 16);
  // Characters of the Basic Multilingual Plane in valid UTF-8, as a driver
  // gives nearly always, are decoded here.
  if (DecodeCommon(text)) return out_;
  // Anything else the way Utf8ToAnsi goes: leniently (an invalid sequence
  // becomes U+FFFD) through UTF-16.
  (void)platform::Utf8ToUtf16(text, wide_, platform::Utf8Mode::kLenient);
  out_.clear();
  for (char16_t unit : wide_) {
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      // Surrogate pairs stand for one character together: the whole text
      // goes through the ordinary conversion.
      out_ = platform::Utf16ToGbk(wide_);
      return out_;
    }
    const Entry& entry = Lookup(unit);
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
