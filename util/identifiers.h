// Fresh identifier texts, and the mixing that hides a short text (a
// password) inside one before it goes to the page.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// 32 uppercase hexadecimal digits of a newly generated GUID; empty in the
// unlikely case that the generator gives the null GUID.
std::string NewIdentifierText();

// The identifier text of a GUID's 16 bytes as libuuid stores them (Data1,
// Data2 and Data3 big-endian, then the bytes of Data4); empty for the null
// GUID.
std::string IdentifierTextFromGuid(const std::array<uint8_t, 16>& guid);

inline constexpr int32_t kMixOk = 0;
inline constexpr int32_t kMixKeyTooShort = 2;
inline constexpr int32_t kMixHexTooLong = 3;
inline constexpr int32_t kMixTextShortened = 5;

// Writes a copy of key with the length and the digits of hex_text mixed into
// it and a check digit last; the output is as long as the key. Needs a key at
// least 4 characters longer than hex_text (else kMixKeyTooShort, output
// empty); a hex_text of 256 or more digits gives kMixHexTooLong with the
// output equal to the key. Characters that are not hexadecimal digits count
// as 0 wherever a digit value is read.
int32_t MixHexWithKey(std::string& output, std::string_view hex_text, std::string_view key);

// Hex-encodes as much of text as the key can carry and mixes it in with
// MixHexWithKey. kMixTextShortened when only a prefix of the text fitted, or
// with an empty output when the key has fewer than 5 characters; else kMixOk.
int32_t MixTextWithKey(std::string& output, std::string_view text, std::string_view key);
