#include "data/dataset_text.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "util/json_escape.h"

namespace {

constexpr size_t kInitialBytes = 50000;
// Room kept beyond twice a text's length: its quotes, a comma, the
// separator between names and values and the closing of the text.
constexpr size_t kMarginBytes = 500;
constexpr size_t kGrowthExtraBytes = 10240;

constexpr char kRowsPlaceholder[] = "\"99999999\"";
constexpr std::string_view kNamesEnd = "],\"Data\":[";

}  // namespace

GrowingText::GrowingText(GrowingText&& other) noexcept
    : buffer_(std::move(other.buffer_)),
      capacity_(std::exchange(other.capacity_, 0)),
      used_(std::exchange(other.used_, 0)) {}

GrowingText& GrowingText::operator=(GrowingText&& other) noexcept {
  if (this != &other) {
    buffer_ = std::move(other.buffer_);
    capacity_ = std::exchange(other.capacity_, 0);
    used_ = std::exchange(other.used_, 0);
  }
  return *this;
}

void GrowingText::Reserve(size_t length) {
  if (!buffer_) {
    buffer_.reset(static_cast<char*>(std::malloc(kInitialBytes)));
    if (!buffer_) throw std::bad_alloc();
    capacity_ = kInitialBytes;
  }
  if (capacity_ >= used_ + 2 * length + kMarginBytes) return;
  size_t capacity = capacity_ + capacity_ / 3 + 2 * length + kGrowthExtraBytes;
  // A large block is moved by remapping its pages rather than copied, so the
  // old and the new buffer are never both in memory.
  auto* grown = static_cast<char*>(std::realloc(buffer_.get(), capacity));
  if (grown == nullptr) throw std::bad_alloc();
  (void)buffer_.release();
  buffer_.reset(grown);
  capacity_ = capacity;
}

void GrowingText::Append(std::string_view bytes) {
  Reserve(bytes.size());
  std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
  used_ += bytes.size();
}

void GrowingText::AppendQuoted(const char* text, size_t length) {
  Reserve(length);
  PutQuoted(text);
}

void GrowingText::PutQuoted(const char* text) {
  char* out = buffer_.get();
  out[used_++] = '"';
  used_ += JsonEscapeToBuffer(out + used_, text);
  out[used_++] = '"';
}

DatasetText GrowingText::Release() {
  DatasetText text;
  if (!buffer_) return text;
  Reserve(0);
  buffer_[used_] = '\0';
  text.length = used_ + 1;
  text.data = std::move(buffer_);
  capacity_ = used_ = 0;
  return text;
}

DatasetTextBuilder::DatasetTextBuilder(int columns) : DatasetTextBuilder(columns, own_) {}

DatasetTextBuilder::DatasetTextBuilder(int columns, GrowingText& text) : text_(text) {
  text_.Reserve(0);
  start_ = text_.used_;
  int n = std::snprintf(text_.buffer_.get() + start_, text_.capacity_ - start_,
                        "{\r\n\t\"Rows\":\"%d\",\r\n\t\"Columns\":\"%d\",\r\n\t\"ColumnName\":[",
                        static_cast<int>(kDatasetMaxRows), columns);
  text_.used_ += static_cast<size_t>(n);
}

void DatasetTextBuilder::AddColumnName(const char* name, size_t length) {
  text_.Reserve(length);
  if (!first_name_) text_.buffer_[text_.used_++] = ',';
  first_name_ = false;
  text_.PutQuoted(name);
}

void DatasetTextBuilder::AddValue(const char* value, size_t length) {
  text_.Reserve(length);
  char* out = text_.buffer_.get();
  if (!names_closed_) {
    std::memcpy(out + text_.used_, kNamesEnd.data(), kNamesEnd.size());
    text_.used_ += kNamesEnd.size();
    names_closed_ = true;
  }
  if (!first_value_) out[text_.used_++] = ',';
  first_value_ = false;
  text_.PutQuoted(value);
}

void DatasetTextBuilder::Close(uint32_t rows) {
  if (!names_closed_) text_.Append(kNamesEnd);
  names_closed_ = true;
  text_.Append("]\r\n}");

  // The first placeholder of the dataset text is the header's: column names
  // and values come after it.
  char* dataset = text_.buffer_.get() + start_;
  char* field = static_cast<char*>(
      memmem(dataset, text_.used_ - start_, kRowsPlaceholder, sizeof kRowsPlaceholder - 1));
  if (field != nullptr) {
    char count[10];
    int n =
        std::snprintf(count, sizeof count, "%u\"", rows < kDatasetMaxRows ? rows : kDatasetMaxRows);
    std::memset(field + 1, ' ', 9);
    std::memcpy(field + 1, count, static_cast<size_t>(n));
  }
}

DatasetText DatasetTextBuilder::Finish(uint32_t rows) {
  Close(rows);
  return text_.Release();
}
