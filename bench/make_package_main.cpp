// Writes a book-like package for the extraction benchmark: text pages that
// compress well, image-like random data, a few large media files, nested
// folders, Unix permissions and an executable reader.
//
//   tomerack-make-package OUT.zip TOTAL_MIB FILES
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "zip/zip_writer.h"

namespace {

struct Random {
  uint64_t state;
  uint32_t Next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(state >> 33);
  }
};

std::string TextPage(Random& r, size_t size) {
  static const char* kWords[] = {"the",   "pupil",  "reads", "a",      "chapter", "about",
                                 "river", "field",  "and",   "writes", "notes",   "on",
                                 "page",  "lesson", "课本",  "练习",   "数学",    "语文"};
  std::string s;
  s.reserve(size + 16);
  while (s.size() < size) {
    s += kWords[r.Next() % (sizeof kWords / sizeof kWords[0])];
    s += (r.Next() % 12 == 0) ? "\n" : " ";
  }
  s.resize(size);
  return s;
}

std::string Noise(Random& r, size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i + 4 <= size; i += 4) {
    uint32_t v = r.Next();
    s[i] = static_cast<char>(v);
    s[i + 1] = static_cast<char>(v >> 8);
    s[i + 2] = static_cast<char>(v >> 16);
    s[i + 3] = static_cast<char>(v >> 24);
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: tomerack-make-package OUT.zip TOTAL_MIB FILES\n");
    return 2;
  }
  const uint64_t total = std::strtoull(argv[2], nullptr, 10) << 20;
  const uint64_t files = std::strtoull(argv[3], nullptr, 10);
  if (total == 0 || files < 2) return 2;
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  ZipWriter writer(out, 6);
  Random r{12345};

  ZipEntrySpec reader;
  reader.name = "bin/reader";
  reader.data = "#!/bin/sh\necho reader\n";
  reader.unix_mode = 0755;
  writer.Add(reader);

  // Four large media files take a tenth; the rest is spread over pages.
  const uint64_t media = total / 10;
  const uint64_t average = (total - media) / (files - 1 - 4);
  uint64_t written = 0;
  for (uint64_t i = 0; i < files - 1; ++i) {
    ZipEntrySpec e;
    e.unix_mode = 0644;
    if (i < 4) {
      e.name = "media/clip" + std::to_string(i) + ".mp4";
      e.data = Noise(r, static_cast<size_t>(media / 4));
      e.method = ZipEntrySpec::Method::kStored;
    } else {
      size_t size = static_cast<size_t>(average / 2 + r.Next() % average);
      std::string folder = "unit" + std::to_string(i % 12) + "/lesson" + std::to_string(i % 7) +
                           "/part" + std::to_string(i % 3) + "/";
      if (i % 3 == 0) {
        e.name = folder + "page" + std::to_string(i) + ".html";
        e.data = TextPage(r, size);
      } else {
        e.name = folder + "image" + std::to_string(i) + ".png";
        e.data = Noise(r, size);
        e.method = i % 2 ? ZipEntrySpec::Method::kStored : ZipEntrySpec::Method::kDeflated;
      }
    }
    written += e.data.size();
    writer.Add(e);
  }
  writer.Finish("benchmark package");
  std::printf("%s: %llu files, %.1f MiB of content\n", argv[1],
              static_cast<unsigned long long>(files), static_cast<double>(written) / (1 << 20));
  return out ? 0 : 1;
}
