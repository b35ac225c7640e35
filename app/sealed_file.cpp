#include "app/sealed_file.h"

#include <vector>

#include "platform/clock.h"
#include "util/file_io.h"

namespace {

constexpr size_t kHeaderPadLength = 28;
// Draws of a header before SealForStorage mends the last one itself.
constexpr unsigned kMostHeaderDraws = 8;

uint8_t Bits8To15(uint32_t w) {
  return static_cast<uint8_t>(w >> 8);
}

void StoreLe32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

uint32_t LoadLe32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v |= static_cast<uint32_t>(static_cast<uint8_t>(s[at + i])) << (8 * i);
  return v;
}

void XorHeaderPad(std::string& s) {
  for (size_t i = 0; i < kHeaderPadLength; ++i) s[i] = static_cast<char>(s[i] ^ kPassPhrase[i]);
}

unsigned StepFrom(uint8_t step_byte) {
  unsigned step = step_byte % 5u;
  return step == 0 ? 1 : step;
}

void KeyWalk(std::string& s, size_t k, unsigned step, size_t body_length, KeyView key) {
  size_t count = body_length / step;
  for (size_t i = 0; i < count; ++i) {
    size_t at = (7 + k) + i * step;
    s[at] = static_cast<char>(static_cast<uint8_t>(s[at]) ^ key.data[i % key.length]);
  }
}

}  // namespace

void DrawSealHeader(unsigned attempt, uint8_t (&header)[kSealHeaderSize]) {
  const size_t count = kSealHeaderSize * (static_cast<size_t>(attempt) + 1);
  std::vector<int> numbers =
      platform::SeedAndDraw(static_cast<uint32_t>(platform::NowSeconds()), count);
  for (size_t i = 0; i < kSealHeaderSize; ++i)
    header[i] = static_cast<uint8_t>(numbers[count - kSealHeaderSize + i] & 0xFF);
}

bool ReadsAsPlainText(std::string_view file_bytes) {
  return file_bytes.size() >= 2 && file_bytes[0] == ' ' && file_bytes[1] == ' ';
}

std::string SealForStorage(std::string_view plain, KeyView key, uint32_t s0, uint32_t m,
                           uint32_t a, uint8_t outer, const SealHeaderDraw& draw) {
  const uint32_t tick = platform::TickCountMs();
  uint8_t header[kSealHeaderSize];
  auto seal = [&] {
    std::string sealed = SealBufferWith(plain, key, s0, m, a, header, tick);
    if (outer != 0) ApplyOuterLayer(sealed, outer);
    return sealed;
  };
  for (unsigned attempt = 0; attempt < kMostHeaderDraws; ++attempt) {
    draw(attempt, header);
    std::string sealed = seal();
    if (!ReadsAsPlainText(sealed)) return sealed;
  }
  // Only a source that keeps failing gets here. The first stored byte
  // follows from header byte 0 alone, so flipping one of its bits moves it
  // off the blank.
  header[0] ^= 0x80;
  return seal();
}

std::string SealBuffer(std::string_view plain, KeyView key, uint32_t s0, uint32_t m, uint32_t a) {
  return SealForStorage(plain, key, s0, m, a, 0);
}

std::string SealBufferWith(std::string_view plain, KeyView key, uint32_t s0, uint32_t m, uint32_t a,
                           const uint8_t (&random_header)[32], uint32_t tick) {
  const size_t n = plain.size();
  std::string s(n + kSealHeaderSize, '\0');
  for (size_t i = 0; i < kSealHeaderSize; ++i) s[i] = static_cast<char>(random_header[i]);
  const size_t k = static_cast<uint8_t>(s[3]) % 5u;

  const bool with_key = key.data != nullptr && key.length > 0;
  unsigned flag = (tick & 0xFF) / 3 * 3 + (with_key ? 1 : 2);
  // 255 is a multiple of 3; stepping back keeps the residue within a byte.
  if (flag > 0xFF) flag -= 3;
  s[5 + k] = static_cast<char>(flag);
  const uint8_t step_byte = Bits8To15(tick);
  s[6 + k] = static_cast<char>(step_byte);
  StoreLe32(s, 13 + k, s0);
  StoreLe32(s, 17 + k, m);
  StoreLe32(s, 21 + k, a);

  uint32_t w = s0;
  for (size_t i = 0; i < n; ++i) {
    uint8_t q = static_cast<uint8_t>(plain[i]) ^ Bits8To15(w);
    s[kSealHeaderSize + i] = static_cast<char>(q);
    w = (w + q) * m + a;
  }
  if (with_key) KeyWalk(s, k, StepFrom(step_byte), n, key);
  XorHeaderPad(s);
  return s;
}

void ApplyOuterLayer(std::string& sealed, uint8_t outer) {
  uint32_t u = 13;
  for (auto& c : sealed) {
    uint8_t q = static_cast<uint8_t>(static_cast<uint8_t>(c) ^ outer) ^ Bits8To15(u);
    c = static_cast<char>(q);
    u = (u + q) * 7u + 17u;
  }
}

int UnsealBuffer(std::string_view sealed, KeyView key, uint8_t outer, std::string& plain) {
  if (sealed.size() < kSealHeaderSize) return kSealTooShort;
  std::string s(sealed);
  if (outer != 0) {
    uint32_t u = 13;
    for (auto& c : s) {
      uint8_t b = static_cast<uint8_t>(c);
      c = static_cast<char>(b ^ Bits8To15(u) ^ outer);
      u = (u + b) * 7u + 17u;
    }
  }
  XorHeaderPad(s);
  const size_t k = static_cast<uint8_t>(s[3]) % 5u;
  const size_t n = s.size() - kSealHeaderSize;
  if (static_cast<uint8_t>(s[5 + k]) % 3u == 1) {
    if (key.data == nullptr || key.length == 0) return kSealNeedsKey;
    KeyWalk(s, k, StepFrom(static_cast<uint8_t>(s[6 + k])), n, key);
  }
  const uint32_t m = LoadLe32(s, 17 + k);
  const uint32_t a = LoadLe32(s, 21 + k);
  uint32_t w = LoadLe32(s, 13 + k);
  plain.resize(n);
  for (size_t i = 0; i < n; ++i) {
    uint8_t q = static_cast<uint8_t>(s[kSealHeaderSize + i]);
    plain[i] = static_cast<char>(q ^ Bits8To15(w));
    w = (w + q) * m + a;
  }
  return kSealOk;
}

int ReadSealedFile(const std::string& path, uint8_t outer, std::string& text) {
  text.clear();
  std::string data;
  if (!ReadWholeFile(path, data)) return kSealNoFile;
  if (ReadsAsPlainText(data)) {
    text = std::move(data);
    return kSealOk;
  }
  return UnsealBuffer(data, ConfigKey(), outer, text);
}

int WriteSealedFile(const std::string& text, const std::string& path) {
  std::string sealed = SealForStorage(text, ConfigKey(), 71, 53, 73, kRecordOuterByte);
  return WriteWholeFileAtomically(sealed.data(), sealed.size(), path) ? kSealOk : kSealWriteFailed;
}
