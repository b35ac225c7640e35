// Unsealing any bytes, with and without the key layer and the book files'
// outer layer, from memory and from a file as Config.EF is read.
#include <cstdint>
#include <string>

#include "app/config_key.h"
#include "app/sealed_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool key_built = (BuildConfigKey(), true);
  (void)key_built;
  std::string_view sealed(reinterpret_cast<const char*>(data), size);
  std::string plain;
  for (uint8_t outer : {uint8_t{0}, kRecordOuterByte}) {
    (void)UnsealBuffer(sealed, ConfigKey(), outer, plain);
    (void)UnsealBuffer(sealed, KeyView{}, outer, plain);
  }
  std::string path = fuzz_support::WriteInputFile(data, size, "Config.EF");
  (void)ReadSealedFile(path, 0, plain);
  (void)ReadSealedFile(path, kRecordOuterByte, plain);
  return 0;
}
