// Conversions between the program's code page 936 (GBK) texts and the
// Unicode forms used at the edges: UTF-8 for the OS, GTK, HTTP and ODBC,
// UTF-16 for page script.
//
// A character that code page 936 cannot hold becomes "?", one "?" per
// character, as the Windows conversions do.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// How invalid input is treated by the UTF-8 decoder.
enum class Utf8Mode {
  kLenient,  // an invalid sequence becomes U+FFFD and conversion goes on
  kStrict,   // an invalid sequence fails the conversion
};

// GBK -> UTF-16. Never fails: a byte sequence that is not GBK becomes "?".
std::u16string GbkToUtf16(std::string_view gbk);

// UTF-16 -> GBK with "?" for characters outside the code page. Unpaired
// surrogates are treated as unrepresentable characters.
std::string Utf16ToGbk(std::u16string_view utf16);

// UTF-8 <-> UTF-16. The lenient decoder never fails.
[[nodiscard]] bool Utf8ToUtf16(std::string_view utf8, std::u16string& out,
                               Utf8Mode mode = Utf8Mode::kLenient);
std::string Utf16ToUtf8(std::u16string_view utf16);

// GBK <-> UTF-8 through UTF-16.
std::string GbkToUtf8(std::string_view gbk);
// Whether text is plain ASCII, which is the same in GBK and in UTF-8.
bool IsAsciiText(std::string_view text);
std::string Utf8ToGbk(std::string_view utf8);

// True when every character of the UTF-8 text survives a round trip through
// code page 936 (used to refuse program directories we could not address).
bool IsRepresentableInGbk(std::string_view utf8);

// Upper-cases a GBK text: ASCII letters only, trail bytes of double-byte
// characters are never touched.
std::string GbkToUpper(std::string_view gbk);
// Names, members and functions compared without regard to case.
inline bool GbkEqualsNoCase(std::string_view a, std::string_view b) {
  return GbkToUpper(a) == GbkToUpper(b);
}

// True when byte c starts a double-byte character of code page 936.
inline bool IsGbkLeadByte(unsigned char c) {
  return c >= 0x81 && c <= 0xFE;
}

}  // namespace platform
