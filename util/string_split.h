// Searching and cutting ANSI texts.
//
// Character-aware operations walk code page 936 characters, so the trail
// byte of a double-byte character (which may equal "\" or "|") is never taken
// for an ASCII character. Byte-wise operations look at single bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Character-aware search: the position of the first occurrence of part that
// starts at or after from and neither starts nor ends inside a double-byte
// character, or npos. from must be a character boundary (0, or the end of an
// earlier match). An empty part is never found.
size_t AnsiFind(std::string_view text, std::string_view part, size_t from = 0);

// Cuts text at every occurrence of separator (character-aware) and appends
// the segments to out in order; out is not cleared. With skip_empty, empty
// segments, the last one included, are left out. False, nothing appended,
// when the separator is empty.
[[nodiscard]] bool SplitString(std::vector<std::string>& out, std::string_view separator,
                               std::string_view text, bool skip_empty);

// Byte-wise: every byte of text equal to any byte of separators ends a
// token; non-empty tokens are appended to out in order. False when text or
// separators is null.
[[nodiscard]] bool SplitByCharacters(const char* text, std::vector<std::string>& out,
                                     const char* separators);

// text without the blanks, tabs and line ends around it (bytes below 0x80
// only, so no part of a double-byte character is taken).
std::string TrimWhiteSpace(std::string_view text);
