// A queued page call "name(argument)" on any text.
#include <cstdint>
#include <string>

#include "browser/call_text.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PageCall call = ParseCallText(fuzz_support::AsText(data, size));
  if (call.name.size() > size) __builtin_trap();
  return 0;
}
