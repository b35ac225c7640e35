// JsonUnescapeString on any text, and the escaping it undoes.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "util/json_escape.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text = fuzz_support::AsText(data, size);
  std::string unescaped = text;
  JsonUnescapeString(unescaped);
  std::string escaped = text;
  JsonEscapeString(escaped);
  return 0;
}
