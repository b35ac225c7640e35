// Base64 decoding of any text; what decodes encodes back to bytes that
// decode to the same.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "util/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CBase64Coding coder;
  std::vector<uint8_t> bytes;
  if (!coder.DecodeText(fuzz_support::AsText(data, size), bytes)) return 0;
  std::string text;
  if (!coder.EncodeBytesToText(bytes, text)) return 0;
  std::vector<uint8_t> again;
  if (!coder.DecodeText(text, again) || again != bytes) __builtin_trap();
  return 0;
}
