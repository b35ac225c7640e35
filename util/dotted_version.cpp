#include "util/dotted_version.h"

#include <algorithm>

namespace {

constexpr size_t kMostDigits = 9;  // every number fits 32 bits

}  // namespace

bool ParseDottedVersion(std::string_view text, std::vector<uint32_t>& numbers) {
  numbers.clear();
  size_t at = 0;
  for (;;) {
    uint32_t value = 0;
    size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      if (++digits > kMostDigits) break;
      value = value * 10 + static_cast<uint32_t>(text[at] - '0');
      ++at;
    }
    if (digits == 0 || digits > kMostDigits || numbers.size() == kMostDottedVersionParts) break;
    numbers.push_back(value);
    if (at == text.size()) return true;
    if (text[at] != '.') break;
    ++at;
  }
  numbers.clear();
  return false;
}

int CompareDottedVersions(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  const size_t count = std::max(a.size(), b.size());
  for (size_t i = 0; i < count; ++i) {
    const uint32_t x = i < a.size() ? a[i] : 0;
    const uint32_t y = i < b.size() ? b[i] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}
