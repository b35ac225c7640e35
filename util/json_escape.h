// Escaping of string values in JSON texts that are built by formatting
// rather than with the JSON library.
//
// Both rules use the same seven escapes: \b \t \n \f \r \" and \\. Nothing
// else is escaped; other control bytes and bytes of 0x80 and above pass.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Escape of a zero-terminated text into destination, which must hold at
// least twice the text's length plus one. Single bytes are escaped by the
// table; a double-byte character of code page 936 is copied whole, so its
// trail byte 0x5C is not taken for a backslash. The output is
// zero-terminated; returns the bytes written without the terminator, 0 for a
// null text.
size_t JsonEscapeToBuffer(char* destination, const char* text);

// Character-aware escape and its inverse, in place. The inverse decodes
// neither "\/" nor "\uXXXX".
void JsonEscapeString(std::string& text);
void JsonUnescapeString(std::string& text);

// Character-aware replacement of every non-overlapping occurrence of
// old_text, left to right, growing the text at most once. Returns the number
// of occurrences replaced; an empty old_text replaces nothing.
size_t AnsiReplaceAll(std::string& text, std::string_view old_text, std::string_view new_text);
