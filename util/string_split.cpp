#include "util/string_split.h"

#include <cstring>

#include "platform/codepage.h"

namespace {

// Bytes taken by the character at i: two for a lead byte followed by a valid
// trail byte, else one. A lead byte before an invalid trail stands alone, so
// the quote or control byte after it is still seen.
size_t CharacterLength(std::string_view text, size_t i) {
  if (i + 1 < text.size() && platform::IsGbkLeadByte(static_cast<unsigned char>(text[i]))) {
    auto trail = static_cast<unsigned char>(text[i + 1]);
    if (trail >= 0x40 && trail <= 0xFE) return 2;
  }
  return 1;
}

}  // namespace

size_t AnsiFind(std::string_view text, std::string_view part, size_t from) {
  if (part.empty() || part.size() > text.size()) return std::string_view::npos;
  size_t last = text.size() - part.size();
  size_t i = from;
  while (i <= last) {
    size_t step = CharacterLength(text, i);
    if (std::memcmp(text.data() + i, part.data(), part.size()) == 0) {
      // The match must also end on a character boundary.
      size_t end = i + part.size();
      size_t j = i;
      while (j < end) j += CharacterLength(text, j);
      if (j == end) return i;
    }
    i += step;
  }
  return std::string_view::npos;
}

bool SplitString(std::vector<std::string>& out, std::string_view separator, std::string_view text,
                 bool skip_empty) {
  if (separator.empty()) return false;
  size_t position = 0;
  while (true) {
    size_t found = AnsiFind(text, separator, position);
    size_t end = found == std::string_view::npos ? text.size() : found;
    if (!skip_empty || end > position) out.emplace_back(text.substr(position, end - position));
    if (found == std::string_view::npos) break;
    position = found + separator.size();
  }
  return true;
}

bool SplitByCharacters(const char* text, std::vector<std::string>& out, const char* separators) {
  if (text == nullptr || separators == nullptr) return false;
  const char* token = text;
  for (const char* p = text;; ++p) {
    bool at_end = *p == '\0';
    if (at_end || std::strchr(separators, *p) != nullptr) {
      if (p > token) out.emplace_back(token, p);
      if (at_end) break;
      token = p + 1;
    }
  }
  return true;
}

std::string TrimWhiteSpace(std::string_view text) {
  auto is_space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  size_t start = 0;
  size_t end = text.size();
  while (start < end && is_space(text[start])) ++start;
  while (end > start && is_space(text[end - 1])) --end;
  return std::string(text.substr(start, end - start));
}
