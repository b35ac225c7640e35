// What the fuzz targets share: a scratch folder of the process's own and the
// input written there as a file, for the readers that take a path.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace fuzz_support {

// Made at the first call below TMPDIR (or /tmp) and used for every input.
inline const std::string& ScratchDirectory() {
  static const std::string directory = [] {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tomerack-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) abort();
    return pattern;
  }();
  return directory;
}

// The input as the file NAME of the scratch folder; its path.
inline std::string WriteInputFile(const uint8_t* data, size_t size, const char* name) {
  std::string path = ScratchDirectory() + "/" + name;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) abort();
  if (size && std::fwrite(data, 1, size, file) != size) abort();
  std::fclose(file);
  return path;
}

inline std::string AsText(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace fuzz_support
