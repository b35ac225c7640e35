#include "data/dataset_text.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "util/json_escape.h"

namespace {

constexpr size_t kInitialBytes = 50000;
// Room kept beyond twice a text's length: its quotes, a comma, the
// separator between names and values and the closing of the text.
constexpr size_t kMarginBytes = 500;
constexpr size_t kGrowthExtraBytes = 10240;

constexpr char kRowsPlaceholder[] = "\"99999999\"";

}  // namespace

DatasetTextBuilder::DatasetTextBuilder(int columns) {
  buffer_.reset(static_cast<char*>(std::malloc(kInitialBytes)));
  if (!buffer_) throw std::bad_alloc();
  capacity_ = kInitialBytes;
  int n = std::snprintf(buffer_.get(), capacity_,
                        "{\r\n\t\"Rows\":\"%d\",\r\n\t\"Columns\":\"%d\",\r\n\t\"ColumnName\":[",
                        static_cast<int>(kDatasetMaxRows), columns);
  used_ = static_cast<size_t>(n);
}

void DatasetTextBuilder::Reserve(size_t length) {
  if (capacity_ >= used_ + 2 * length + kMarginBytes) return;
  size_t capacity = capacity_ + capacity_ / 3 + 2 * length + kGrowthExtraBytes;
  auto* grown = static_cast<char*>(std::realloc(buffer_.get(), capacity));
  if (grown == nullptr) throw std::bad_alloc();
  (void)buffer_.release();
  buffer_.reset(grown);
  capacity_ = capacity;
}

void DatasetTextBuilder::Append(std::string_view bytes) {
  std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
  used_ += bytes.size();
}

void DatasetTextBuilder::AppendEscaped(const char* text) {
  buffer_[used_++] = '"';
  used_ += JsonEscapeToBuffer(buffer_.get() + used_, text);
  buffer_[used_++] = '"';
}

void DatasetTextBuilder::AddColumnName(const char* name, size_t length) {
  Reserve(length);
  if (!first_name_) buffer_[used_++] = ',';
  first_name_ = false;
  AppendEscaped(name);
}

void DatasetTextBuilder::AddValue(const char* value, size_t length) {
  Reserve(length);
  if (!names_closed_) {
    Append("],\"Data\":[");
    names_closed_ = true;
  }
  if (!first_value_) buffer_[used_++] = ',';
  first_value_ = false;
  AppendEscaped(value);
}

DatasetText DatasetTextBuilder::Finish(uint32_t rows) {
  Reserve(0);
  if (!names_closed_) Append("],\"Data\":[");
  Append("]\r\n}");
  buffer_[used_] = '\0';

  // The first placeholder is the header's: column names come after it.
  char* field = static_cast<char*>(
      memmem(buffer_.get(), used_, kRowsPlaceholder, sizeof kRowsPlaceholder - 1));
  if (field != nullptr) {
    char count[10];
    int n =
        std::snprintf(count, sizeof count, "%u\"", rows < kDatasetMaxRows ? rows : kDatasetMaxRows);
    std::memset(field + 1, ' ', 9);
    std::memcpy(field + 1, count, static_cast<size_t>(n));
  }

  DatasetText text;
  text.length = used_ + 1;
  text.data = std::move(buffer_);
  capacity_ = used_ = 0;
  return text;
}
