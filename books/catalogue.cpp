#include "books/catalogue.h"

void Catalogue::Store(const std::string& raw_text, std::vector<std::string> rows) {
  rows.resize(rows.size() - rows.size() % kCatalogueColumns);
  std::lock_guard<std::mutex> guard(lock_);
  raw_text_ = raw_text;
  rows_ = std::move(rows);
  row_count_ = rows_.size() / kCatalogueColumns;
  column_count_ = kCatalogueColumns;
  bsid_to_gid_.clear();
  for (size_t r = 0; r < row_count_; ++r) {
    const std::string* row = &rows_[r * kCatalogueColumns];
    bsid_to_gid_[row[kColumnBsid]] = row[kColumnGid];
    gid_to_full_name_[row[kColumnGid]] = row[kColumnFullName];
  }
}

void Catalogue::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  bsid_to_gid_.clear();
  rows_.clear();
  row_count_ = 0;
  raw_text_ = kCatalogueNoData;
}

std::string Catalogue::RawText() const {
  std::lock_guard<std::mutex> guard(lock_);
  return raw_text_;
}

std::vector<std::string> Catalogue::Rows() const {
  std::lock_guard<std::mutex> guard(lock_);
  return rows_;
}

size_t Catalogue::RowCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return row_count_;
}

bool Catalogue::GidForBsid(const std::string& bsid, std::string& gid) const {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = bsid_to_gid_.find(bsid);
  if (it == bsid_to_gid_.end()) return false;
  gid = it->second;
  return true;
}

std::string Catalogue::FullNameForGid(const std::string& gid) const {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = gid_to_full_name_.find(gid);
  return it == gid_to_full_name_.end() ? std::string() : it->second;
}

BsidGidPairs Catalogue::Pairs() const {
  std::lock_guard<std::mutex> guard(lock_);
  return BsidGidPairs(bsid_to_gid_.begin(), bsid_to_gid_.end());
}
