#include "util/identifiers.h"

#include <uuid/uuid.h>

#include <algorithm>
#include <cstdio>

#include "util/md5.h"

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

// The length code is two digits, so 127 bytes (254 digits) is the most text
// that can be mixed in at all.
constexpr size_t kMaxMixedTextBytes = 127;

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

char MixDigits(char a, char b) {
  return kDigits[(DigitValue(a) + DigitValue(b)) % 16];
}

}  // namespace

std::string IdentifierTextFromGuid(const std::array<uint8_t, 16>& guid) {
  if (std::all_of(guid.begin(), guid.end(), [](uint8_t b) { return b == 0; })) return {};
  const unsigned long data1 = (static_cast<unsigned long>(guid[0]) << 24) |
                              (static_cast<unsigned long>(guid[1]) << 16) |
                              (static_cast<unsigned long>(guid[2]) << 8) | guid[3];
  const unsigned data2 = (unsigned{guid[4]} << 8) | guid[5];
  const unsigned data3 = (unsigned{guid[6]} << 8) | guid[7];
  char text[33];
  std::snprintf(text, sizeof text, "%08lX%04X%04X%02X%02X%02X%02X%02X%02X%02X%02X", data1, data2,
                data3, guid[8], guid[9], guid[10], guid[11], guid[12], guid[13], guid[14],
                guid[15]);
  return text;
}

std::string NewIdentifierText() {
  uuid_t uuid;
  uuid_generate(uuid);
  std::array<uint8_t, 16> guid;
  std::copy(std::begin(uuid), std::end(uuid), guid.begin());
  return IdentifierTextFromGuid(guid);
}

int32_t MixHexWithKey(std::string& output, std::string_view hex_text, std::string_view key) {
  const size_t n = hex_text.size();
  const size_t k = key.size();
  output.clear();
  if (n + 4 > k) return kMixKeyTooShort;
  output.assign(key);
  if (n >= 256) return kMixHexTooLong;

  char length_code[3];
  std::snprintf(length_code, sizeof length_code, "%02zx", n);
  output[1] = MixDigits(length_code[0], output[0]);
  output[2] = MixDigits(length_code[1], output[1]);

  // In place and in order: a position already rewritten is read in its new form.
  const size_t d = k - n;
  for (size_t j = 0; j < n; ++j) output[d - 1 + j] = MixDigits(hex_text[j], output[j]);

  unsigned sum = 0;
  for (size_t i = 0; i + 1 < k; ++i) sum += static_cast<uint8_t>(output[i]);
  output[k - 1] = kDigits[sum % 16];
  return kMixOk;
}

int32_t MixTextWithKey(std::string& output, std::string_view text, std::string_view key) {
  output.clear();
  const size_t k = key.size();
  if (k < 5) return kMixTextShortened;
  const size_t used = std::min({text.size(), (k - 4) / 2, kMaxMixedTextBytes});
  std::string hex(2 * used, '\0');
  HexEncodeLower(text.data(), used, hex.data());
  (void)MixHexWithKey(output, hex, key);
  return used < text.size() ? kMixTextShortened : kMixOk;
}
