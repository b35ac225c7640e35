// A book's manifest as a hostile user could leave it beside the book: a
// text that reads at all must be exactly the one its entries write, and
// every name in it must stay below the book.
#include <cstdint>
#include <string>
#include <vector>

#include "books/book_manifest.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text = fuzz_support::AsText(data, size);
  std::string package_id;
  std::vector<ManifestEntry> entries;
  if (!ParseManifestText(text, package_id, entries)) {
    if (!package_id.empty() || !entries.empty()) __builtin_trap();
    return 0;
  }
  for (const ManifestEntry& entry : entries) {
    if (!IsSafeManifestPath(entry.path)) __builtin_trap();
  }
  if (ManifestText(package_id, entries) != text) __builtin_trap();
  return 0;
}
