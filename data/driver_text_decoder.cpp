#include "data/driver_text_decoder.h"

#include <algorithm>

#include "platform/codepage.h"

void DriverTextDecoder::ToAnsi(std::string& text) {
  if (std::all_of(text.begin(), text.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return;
  }
  // Lenient: an invalid sequence becomes U+FFFD, as in Utf8ToAnsi.
  (void)platform::Utf8ToUtf16(text, wide_, platform::Utf8Mode::kLenient);
  if (!table_) table_ = std::make_unique<Entry[]>(1 << 16);
  out_.clear();
  for (char16_t unit : wide_) {
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      // Surrogate pairs stand for one character together: the whole text
      // goes through the ordinary conversion.
      text = platform::Utf16ToGbk(wide_);
      return;
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
  text.swap(out_);
}
