#include "util/json_escape.h"

#include <array>
#include <vector>

#include "platform/codepage.h"
#include "util/string_split.h"

namespace {

// The letter written after the backslash for each byte, or 0 for none.
constexpr std::array<char, 256> MakeEscapeLetters() {
  std::array<char, 256> letters{};
  letters['\b'] = 'b';
  letters['\t'] = 't';
  letters['\n'] = 'n';
  letters['\f'] = 'f';
  letters['\r'] = 'r';
  letters['"'] = '"';
  letters['\\'] = '\\';
  return letters;
}

constexpr std::array<char, 256> kEscapeLetters = MakeEscapeLetters();

// Stands for an escaped backslash while the other escapes are decoded, so
// that "\\n" ends as a backslash and "n", not as a line feed.
constexpr std::string_view kBackslashPlaceholder = "\n\r\t\t\r\n";

}  // namespace

size_t JsonEscapeToBuffer(char* destination, const char* text) {
  if (text == nullptr) {
    if (destination != nullptr) *destination = '\0';
    return 0;
  }
  char* out = destination;
  for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    // A double-byte character passes whole: its trail byte may be 0x5C, and a
    // backslash put before it would break the character (and the text read
    // back through any conversion). A lead byte before an invalid trail
    // stands alone, so a quote or control byte after it is still escaped.
    if (platform::IsGbkLeadByte(*p) && p[1] >= 0x40 && p[1] <= 0xFE) {
      out[0] = static_cast<char>(p[0]);
      out[1] = static_cast<char>(p[1]);
      out += 2;
      ++p;
      continue;
    }
    char letter = kEscapeLetters[*p];
    if (letter != 0) {
      out[0] = '\\';
      out[1] = letter;
      out += 2;
    } else {
      *out++ = static_cast<char>(*p);
    }
  }
  *out = '\0';
  return static_cast<size_t>(out - destination);
}

size_t AnsiReplaceAll(std::string& text, std::string_view old_text, std::string_view new_text) {
  std::vector<size_t> positions;
  for (size_t at = AnsiFind(text, old_text); at != std::string_view::npos;
       at = AnsiFind(text, old_text, at + old_text.size())) {
    positions.push_back(at);
  }
  if (positions.empty()) return 0;

  std::string result;
  result.reserve(text.size() - positions.size() * old_text.size() +
                 positions.size() * new_text.size());
  size_t copied = 0;
  for (size_t at : positions) {
    result.append(text, copied, at - copied);
    result.append(new_text);
    copied = at + old_text.size();
  }
  result.append(text, copied, std::string::npos);
  text.swap(result);
  return positions.size();
}

void JsonEscapeString(std::string& text) {
  // Backslashes first, so the backslashes of later escapes are not doubled.
  AnsiReplaceAll(text, "\\", "\\\\");
  AnsiReplaceAll(text, "\"", "\\\"");
  AnsiReplaceAll(text, "\b", "\\b");
  AnsiReplaceAll(text, "\f", "\\f");
  AnsiReplaceAll(text, "\r", "\\r");
  AnsiReplaceAll(text, "\n", "\\n");
  AnsiReplaceAll(text, "\t", "\\t");
}

void JsonUnescapeString(std::string& text) {
  AnsiReplaceAll(text, "\\\\", kBackslashPlaceholder);
  AnsiReplaceAll(text, "\\\"", "\"");
  AnsiReplaceAll(text, "\\b", "\b");
  AnsiReplaceAll(text, "\\f", "\f");
  AnsiReplaceAll(text, "\\r", "\r");
  AnsiReplaceAll(text, "\\n", "\n");
  AnsiReplaceAll(text, "\\t", "\t");
  AnsiReplaceAll(text, kBackslashPlaceholder, "\\");
}
