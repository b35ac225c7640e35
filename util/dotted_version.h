// Version texts made of dotted decimal numbers ("1.10.0"), compared number by
// number, so that 1.10.0 is newer than 1.9.3.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// One to kMostDottedVersionParts numbers of 1 to 9 decimal digits each,
// separated by single dots; nothing else (no blanks, signs or suffixes).
inline constexpr size_t kMostDottedVersionParts = 16;

// False, numbers emptied, for any other text.
[[nodiscard]] bool ParseDottedVersion(std::string_view text, std::vector<uint32_t>& numbers);

// Negative, zero or positive as a is older than, the same as or newer than b.
// Missing trailing numbers count as 0: 1.2 is the same as 1.2.0.
int CompareDottedVersions(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b);
