// The user's catalogue as last received from the service: the raw reply,
// its rows of nine texts, and the maps bsid -> gid and gid -> fullName.
// Guarded by its own lock, which is never held together with another.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// The texts of a row, in this order.
enum CatalogueColumn : size_t {
  kColumnBsid,
  kColumnGid,
  kColumnFullName,
  kColumnBaseImage,
  kColumnInstallPara,
  kColumnLaunchPara,
  kColumnBookMD5,
  kColumnBookPath,
  kColumnBookReader,
  kCatalogueColumns
};

inline constexpr const char* kCatalogueNoData = "无数据";

using BsidGidPairs = std::vector<std::pair<std::string, std::string>>;

class Catalogue {
 public:
  // Replaces everything with a parsed reply; rows holds nine texts a row.
  void Store(const std::string& raw_text, std::vector<std::string> rows);
  // Empties the rows and the bsid map; the raw text becomes "无数据".
  void Clear();

  std::string RawText() const;
  std::vector<std::string> Rows() const;
  size_t RowCount() const;
  bool GidForBsid(const std::string& bsid, std::string& gid) const;
  std::string FullNameForGid(const std::string& gid) const;
  // Every (bsid, gid) pair in the map's order.
  BsidGidPairs Pairs() const;

 private:
  mutable std::mutex lock_;
  std::string raw_text_ = kCatalogueNoData;
  std::vector<std::string> rows_;
  size_t row_count_ = 0;
  size_t column_count_ = 0;
  std::map<std::string, std::string> bsid_to_gid_;
  std::map<std::string, std::string> gid_to_full_name_;
};
