// Conversions between the program's ANSI texts (code page 936) and the
// encodings met at its edges: UTF-8 for the service and SQLite, UTF-16 for
// page script, and text files in any of the three.
//
// Every conversion goes through UTF-16; a character that code page 936
// cannot hold becomes "?". No conversion adds or removes a byte-order mark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// ANSI -> UTF-8. Never fails; an unconvertible text gives an empty result.
std::string AnsiToUtf8(std::string_view ansi);

// UTF-8 -> ANSI. The output is cleared first. A null text gives true and an
// empty output. Invalid sequences become "?", so a non-null text converts.
[[nodiscard]] bool Utf8ToAnsi(const char* utf8, std::string& ansi);
[[nodiscard]] bool Utf8ToAnsi(std::string_view utf8, std::string& ansi);

// Strict UTF-8 -> ANSI into a caller's buffer: any invalid sequence, or an
// output that does not fit capacity together with its terminator, gives
// false. On success the output is zero-terminated and capacity holds the
// bytes written, terminator excluded.
[[nodiscard]] bool Utf8BufferToAnsi(const char* utf8, size_t count, char* out, size_t& capacity);

// UTF-16 -> ANSI into a caller's buffer, with the same capacity contract as
// Utf8BufferToAnsi. A count of 0 gives true and an empty output.
[[nodiscard]] bool UnicodeToAnsiBuffer(const char16_t* units, size_t count, char* out,
                                       size_t& capacity);

// True when the bytes follow the UTF-8 lead/continuation pattern and at
// least one of them is 0x80 or above. Deliberately loose: overlong forms,
// surrogates and the old 5- and 6-byte forms pass.
bool IsUtf8Text(const char* data, uint64_t length);
inline bool IsUtf8Text(std::string_view bytes) {
  return IsUtf8Text(bytes.data(), bytes.size());
}

// Reads a whole text file (UTF-16 with a mark, UTF-8 with or without one, or
// ANSI) as ANSI text. False, text untouched, when the file cannot be opened
// or is empty.
[[nodiscard]] bool ReadTextFileAsAnsi(std::string_view path, std::string& text);

// Escapes a text for a URL path segment: ASCII letters and digits stay,
// white space becomes "+", every other byte becomes "%XX".
std::string UrlEncodeText(std::string_view text);

// The conversions at the page-script boundary; the whole string converts.
std::u16string AnsiToUnicode(std::string_view ansi);
std::string UnicodeToAnsi(std::u16string_view unicode);
