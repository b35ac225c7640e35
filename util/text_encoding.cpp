#include "util/text_encoding.h"

#include <cstring>

#include "platform/codepage.h"
#include "util/file_io.h"

namespace {

// Copies a converted text into a caller's buffer with its terminator.
bool CopyToBuffer(const std::string& text, char* out, size_t& capacity) {
  if (out == nullptr || text.size() + 1 > capacity) return false;
  std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
  capacity = text.size();
  return true;
}

std::string CutAtZero(std::string text) {
  size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

// UTF-16 after a byte-order mark; an odd last byte is ignored.
std::string Utf16FileToAnsi(const std::string& bytes, bool big_endian) {
  size_t units = (bytes.size() - 2) / 2;
  std::u16string wide(units, u'\0');
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + 2;
  for (size_t i = 0; i < units; ++i) {
    unsigned first = p[2 * i];
    unsigned second = p[2 * i + 1];
    wide[i] = static_cast<char16_t>(big_endian ? (first << 8) | second : (second << 8) | first);
  }
  return CutAtZero(platform::Utf16ToGbk(wide));
}

// Reads the whole file; false when it cannot be opened, read, or is empty.
}  // namespace

std::string AnsiToUtf8(std::string_view ansi) {
  return platform::GbkToUtf8(ansi);
}

bool Utf8ToAnsi(const char* utf8, std::string& ansi) {
  ansi.clear();
  if (utf8 == nullptr) return true;
  return Utf8ToAnsi(std::string_view(utf8), ansi);
}

bool Utf8ToAnsi(std::string_view utf8, std::string& ansi) {
  ansi.clear();
  std::u16string wide;
  if (!platform::Utf8ToUtf16(utf8, wide, platform::Utf8Mode::kLenient)) return false;
  ansi = platform::Utf16ToGbk(wide);
  return true;
}

bool Utf8BufferToAnsi(const char* utf8, size_t count, char* out, size_t& capacity) {
  if (count == 0) {
    if (out != nullptr && capacity > 0) out[0] = '\0';
    capacity = 0;
    return true;
  }
  if (utf8 == nullptr) return false;
  std::u16string wide;
  if (!platform::Utf8ToUtf16(std::string_view(utf8, count), wide, platform::Utf8Mode::kStrict)) {
    return false;
  }
  return CopyToBuffer(platform::Utf16ToGbk(wide), out, capacity);
}

bool UnicodeToAnsiBuffer(const char16_t* units, size_t count, char* out, size_t& capacity) {
  if (count == 0) {
    if (out != nullptr && capacity > 0) out[0] = '\0';
    capacity = 0;
    return true;
  }
  if (units == nullptr) return false;
  return CopyToBuffer(platform::Utf16ToGbk(std::u16string_view(units, count)), out, capacity);
}

bool IsUtf8Text(const char* data, uint64_t length) {
  if (data == nullptr) return false;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  bool all_ascii = true;
  int owed = 0;
  for (uint64_t i = 0; i < length; ++i) {
    unsigned char c = bytes[i];
    if (c >= 0x80) all_ascii = false;
    if (owed == 0) {
      if (c < 0x80) continue;
      if (c >= 0xFC && c <= 0xFD)
        owed = 5;
      else if (c >= 0xF8)
        owed = 4;  // 0xF8-0xFB, and 0xFE and 0xFF too
      else if (c >= 0xF0)
        owed = 3;
      else if (c >= 0xE0)
        owed = 2;
      else if (c >= 0xC0)
        owed = 1;
      else
        return false;  // a continuation byte cannot start a character
    } else {
      if ((c & 0xC0) != 0x80) return false;
      --owed;
    }
  }
  return owed == 0 && !all_ascii;
}

bool ReadTextFileAsAnsi(std::string_view path, std::string& text) {
  std::string bytes;
  if (!ReadWholeFile(std::string(path), bytes)) return false;
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();

  if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
    text = Utf16FileToAnsi(bytes, false);
    return true;
  }
  if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
    text = Utf16FileToAnsi(bytes, true);
    return true;
  }
  std::string converted;
  if (n > 2 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
    (void)Utf8ToAnsi(bytes.c_str() + 3, converted);
    text = std::move(converted);
    return true;
  }

  // Without a mark, UTF-8 is only a guess: it must be strictly valid (so a
  // GBK file never loses characters to "?") and must come out shorter than
  // the file, as Chinese text does from three UTF-8 bytes to two GBK bytes.
  // Both readings stop at the first zero byte.
  std::string_view up_to_zero(bytes.c_str());
  if (IsUtf8Text(bytes)) {
    std::u16string wide;
    if (platform::Utf8ToUtf16(up_to_zero, wide, platform::Utf8Mode::kStrict)) {
      converted = platform::Utf16ToGbk(wide);
      if (converted.size() < n) {
        text = std::move(converted);
        return true;
      }
    }
  }
  text.assign(up_to_zero);
  return true;
}

std::string UrlEncodeText(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      out.push_back(ch);
    } else if (c == ' ' || (c >= '\t' && c <= '\r')) {
      out.push_back('+');
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
  return out;
}

std::u16string AnsiToUnicode(std::string_view ansi) {
  return platform::GbkToUtf16(ansi);
}

std::string UnicodeToAnsi(std::u16string_view unicode) {
  return platform::Utf16ToGbk(unicode);
}
