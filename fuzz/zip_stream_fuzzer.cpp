// Unpacking bytes as they arrive from the network, before anyone has
// checked them: any bytes, handed over in pieces whose sizes the input also
// chooses, into a fresh folder; then the check against the central
// directory of the same bytes as a file.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "util/directory_tree.h"
#include "util/file_io.h"
#include "zip/zip_stream_extractor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the piece size: 1 to 256 bytes.
  size_t piece = static_cast<size_t>(data[0]) + 1;
  ++data;
  --size;
  std::string path = fuzz_support::WriteInputFile(data, size, "stream.zip");
  std::string destination = fuzz_support::ScratchDirectory() + "/stream";
  RemoveDirectoryTree(destination);
  CreateDirectoryTree(destination);
  {
    // A budget small enough that expanding data meets it.
    ZipStreamExtractor extractor(destination, 4 << 20);
    for (size_t at = 0; at < size; at += piece)
      extractor.Feed(data + at, size - at < piece ? size - at : piece);
    std::string detail;
    (void)extractor.Finish(path, detail);
  }
  RemoveDirectoryTree(destination);
  return 0;
}
