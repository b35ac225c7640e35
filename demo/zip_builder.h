// Builds small ZIP archives in memory for the demo service's book packages:
// directory entries, stored and deflated files, Unix permission bits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ZipBuilder {
 public:
  enum class Method { kStored, kDeflated };

  // name ends in "/".
  void AddDirectory(const std::string& name);
  // mode: Unix permission bits, kept in the entry's external attributes.
  void AddFile(const std::string& name, const std::string& data, Method method,
               uint32_t mode = 0644);
  // The whole archive.
  std::string Finish();

 private:
  struct Entry {
    std::string name;
    uint16_t method = 0;
    uint32_t crc = 0;
    uint32_t compressed_size = 0;
    uint32_t size = 0;
    uint32_t offset = 0;
    uint32_t external = 0;
  };
  void AddEntry(Entry entry, const std::string& stored_bytes);

  std::string out_;
  std::vector<Entry> entries_;
};
