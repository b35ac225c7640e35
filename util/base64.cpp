#include "util/base64.h"

#include <array>
#include <cstring>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kSkip = 254;
constexpr uint8_t kInvalid = 255;
constexpr size_t kGroupsPerLine = 18;  // 72 characters

// Two output characters for every 12-bit value, so that a group of three
// bytes takes two look-ups; files of hundreds of megabytes go through here.
struct CharPairs {
  std::array<char, 2> pair[4096];
};

constexpr CharPairs MakeCharPairs() {
  CharPairs table{};
  for (int v = 0; v < 4096; ++v) {
    table.pair[v] = {kAlphabet[v >> 6], kAlphabet[v & 63]};
  }
  return table;
}

constexpr CharPairs kCharPairs = MakeCharPairs();

size_t EncodedSize(size_t count, bool break_lines) {
  const size_t groups = count / 3;
  size_t size = groups * 4 + (count % 3 != 0 ? 4 : 1);
  if (break_lines) size += groups / kGroupsPerLine * 2;
  return size;
}

inline char* EncodeGroup(const uint8_t* in, char* out) {
  const uint32_t v = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
  std::memcpy(out, kCharPairs.pair[v >> 12].data(), 2);
  std::memcpy(out + 2, kCharPairs.pair[v & 0xfff].data(), 2);
  return out + 4;
}

// Writes exactly EncodedSize(count, break_lines) characters.
void Encode(const uint8_t* in, size_t count, char* out, bool break_lines) {
  size_t groups = count / 3;
  if (break_lines) {
    for (size_t lines = groups / kGroupsPerLine; lines > 0; --lines) {
      for (size_t g = 0; g < kGroupsPerLine; ++g) {
        out = EncodeGroup(in, out);
        in += 3;
      }
      *out++ = '\r';
      *out++ = '\n';
    }
    groups %= kGroupsPerLine;
  }
  for (; groups > 0; --groups) {
    out = EncodeGroup(in, out);
    in += 3;
  }
  switch (count % 3) {
    case 0:
      *out = '=';
      break;
    case 1:
      out[0] = kAlphabet[in[0] >> 2];
      out[1] = kAlphabet[(in[0] & 3) << 4];
      out[2] = '=';
      out[3] = '=';
      break;
    case 2:
      out[0] = kAlphabet[in[0] >> 2];
      out[1] = kAlphabet[((in[0] & 3) << 4) | (in[1] >> 4)];
      out[2] = kAlphabet[(in[1] & 15) << 2];
      out[3] = '=';
      break;
  }
}

void EncodeToText(const uint8_t* in, size_t count, std::string& text) {
  text.resize(EncodedSize(count, true));
  Encode(in, count, text.data(), true);
}

}  // namespace

void CBase64Coding::BuildDecodeTable() {
  std::memset(decode_table_, kInvalid, sizeof decode_table_);
  for (uint8_t v = 0; v < 64; ++v) {
    decode_table_[static_cast<uint8_t>(kAlphabet[v])] = v;
  }
  for (uint8_t c : {'\t', '\n', '\r', ' '}) decode_table_[c] = kSkip;
}

bool CBase64Coding::DecodeText(const std::string& text, std::vector<uint8_t>& bytes) {
  return Decode(reinterpret_cast<const uint8_t*>(text.data()), text.size(), bytes);
}

bool CBase64Coding::DecodeBytes(const std::vector<uint8_t>& text, std::vector<uint8_t>& bytes) {
  return Decode(text.data(), text.size(), bytes);
}

bool CBase64Coding::Decode(const uint8_t* text, size_t count, std::vector<uint8_t>& bytes) {
  // Byte 0 is never an alphabet character, so a zero there means "not built".
  if (decode_table_[0] == 0) BuildDecodeTable();

  // Decoded apart from bytes, which may be the text itself.
  std::vector<uint8_t> out(count / 4 * 3 + count % 4 * 3 / 4 + 1);
  size_t length = 0;
  size_t pos = 0;
  // Next significant character; -1 at the end of the text.
  auto next = [&]() -> int {
    while (pos < count) {
      const uint8_t c = text[pos++];
      if (decode_table_[c] != kSkip) return c;
    }
    return -1;
  };
  auto fail = [&] {
    bytes.clear();
    return false;
  };
  auto finish = [&](bool result) {
    out.resize(length);
    bytes = std::move(out);
    return result;
  };

  for (;;) {
    // Complete groups but no end marker. White space after the last group
    // counts as an unfinished group, which fails below.
    if (pos == count) return finish(false);
    int c[4];
    c[0] = next();
    if (c[0] < 0) return fail();
    if (c[0] == '=') return finish(true);
    // The whole group is read and checked before its "=" signs count, so a
    // group cut short or holding a stray character fails as a whole.
    uint8_t v[4] = {};
    for (int k = 0; k < 4; ++k) {
      if (k > 0) c[k] = next();
      if (c[k] < 0) return fail();
      if (c[k] == '=') continue;
      v[k] = decode_table_[c[k]];
      if (v[k] == kInvalid) return fail();
    }
    if (c[1] == '=') return finish(true);
    out[length++] = static_cast<uint8_t>((v[0] << 2) | (v[1] >> 4));
    if (c[2] == '=') return finish(true);
    out[length++] = static_cast<uint8_t>(((v[1] & 15) << 4) | (v[2] >> 2));
    if (c[3] == '=') return finish(true);
    out[length++] = static_cast<uint8_t>(((v[2] & 3) << 6) | v[3]);
  }
}

bool CBase64Coding::EncodeRawToText(const void* data, size_t count, std::string& text) {
  EncodeToText(static_cast<const uint8_t*>(data), count, text);
  return true;
}

bool CBase64Coding::EncodeBytesToText(const std::vector<uint8_t>& bytes, std::string& text) {
  EncodeToText(bytes.data(), bytes.size(), text);
  return true;
}

bool CBase64Coding::EncodeBytesToBytes(const std::vector<uint8_t>& bytes,
                                       std::vector<uint8_t>& text) {
  text.resize(EncodedSize(bytes.size(), false));
  Encode(bytes.data(), bytes.size(), reinterpret_cast<char*>(text.data()), false);
  return true;
}
