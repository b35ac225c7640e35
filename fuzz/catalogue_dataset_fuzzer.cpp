// The service's catalogue answer on any text: rows come in nines. The uid is
// the seed answer's, so that inputs get past the check of whose answer it is.
#include <cstdint>
#include <string>
#include <vector>

#include "books/catalogue_sync.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> rows;
  if (ParseCatalogueDataset("u3001", fuzz_support::AsText(data, size), rows) == 0 &&
      rows.size() % 9 != 0) {
    __builtin_trap();
  }
  return 0;
}
