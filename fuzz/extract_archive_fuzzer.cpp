// A whole installation's unpacking of any bytes into a fresh folder, as the
// client unpacks a downloaded package.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "util/directory_tree.h"
#include "zip/extract_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = fuzz_support::WriteInputFile(data, size, "book.zip");
  std::string destination = fuzz_support::ScratchDirectory() + "/book";
  std::string message;
  ExtractArchive(path, destination, message);
  RemoveDirectoryTree(destination);
  return 0;
}
