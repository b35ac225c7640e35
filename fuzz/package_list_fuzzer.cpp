// A book's package list text, read and written back: what is written must
// read as the same list.
#include <cstdint>
#include <string>

#include "books/package_list.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PackageList list;
  ParsePackageList(list, fuzz_support::AsText(data, size), "g1");
  if (list.package_ids.size() != list.digests.size()) __builtin_trap();
  PackageList again;
  ParsePackageList(again, PackageListText(list), "g1");
  if (again.package_ids != list.package_ids || again.digests != list.digests) __builtin_trap();
  return 0;
}
