// The Range header of a package request, as the demo service answers it:
// the first range of "bytes=" only (the client never asks for more), checked
// against the size before any byte is served.
#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

namespace demo_range {

struct ByteRange {
  enum class Kind {
    kWhole,          // no usable Range header: 200 with every byte
    kPart,           // 206 with first..last
    kUnsatisfiable,  // 416 with "bytes */size"
  };
  Kind kind = Kind::kWhole;
  uint64_t first = 0;
  uint64_t last = 0;  // inclusive
};

// Decimal digits only; a value too large for 64 bits saturates, which is
// past the end of anything served. False for an empty or non-digit text.
inline bool ParsePosition(std::string_view text, uint64_t& value) {
  if (text.empty()) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10)
      value = std::numeric_limits<uint64_t>::max();
    else
      value = value * 10 + digit;
  }
  return true;
}

// "bytes=a-b", "bytes=a-" and the suffix form "bytes=-n". A header that is
// not of these forms is ignored, as HTTP allows. An inverted range (b < a),
// a start at or past the end, and an empty suffix cannot be satisfied.
inline ByteRange ParseRangeHeader(std::string_view header, uint64_t size) {
  ByteRange range;
  constexpr std::string_view kUnit = "bytes=";
  if (header.substr(0, kUnit.size()) != kUnit) return range;
  std::string_view spec = header.substr(kUnit.size());
  spec = spec.substr(0, spec.find(','));
  while (!spec.empty() && (spec.back() == ' ' || spec.back() == '\t')) spec.remove_suffix(1);
  while (!spec.empty() && (spec.front() == ' ' || spec.front() == '\t')) spec.remove_prefix(1);
  size_t dash = spec.find('-');
  if (dash == std::string_view::npos) return range;
  std::string_view first_text = spec.substr(0, dash);
  std::string_view last_text = spec.substr(dash + 1);
  uint64_t first = 0, last = 0;
  bool has_first = ParsePosition(first_text, first);
  bool has_last = ParsePosition(last_text, last);
  if ((!has_first && !first_text.empty()) || (!has_last && !last_text.empty()) ||
      (!has_first && !has_last))
    return range;

  range.kind = ByteRange::Kind::kUnsatisfiable;
  if (!has_first) {  // the last `last` bytes
    if (last == 0 || size == 0) return range;
    range.first = size - (last < size ? last : size);
    range.last = size - 1;
  } else {
    if (first >= size || (has_last && last < first)) return range;
    range.first = first;
    range.last = has_last && last < size - 1 ? last : size - 1;
  }
  range.kind = ByteRange::Kind::kPart;
  return range;
}

}  // namespace demo_range
