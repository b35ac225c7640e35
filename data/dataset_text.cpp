#include "data/dataset_text.h"

#include <sys/mman.h>

#include <array>
#include <cstdint>
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
// From this size on a text has a mapping of its own.
constexpr size_t kMappedBytes = size_t{4} << 20;
constexpr size_t kHugePageBytes = size_t{2} << 20;

constexpr char kRowsPlaceholder[] = "\"99999999\"";
constexpr std::string_view kNamesEnd = "],\"Data\":[";

// Bytes that JsonEscapeToBuffer copies as they are and that start no
// double-byte character: not the zero byte, the seven escaped characters or
// a lead byte.
constexpr std::array<bool, 256> MakePlainBytes() {
  std::array<bool, 256> plain{};
  for (int c = 1; c < 256; ++c) plain[c] = !(c >= 0x81 && c <= 0xFE);
  for (unsigned char c : {'\b', '\t', '\n', '\f', '\r', '"', '\\'}) plain[c] = false;
  return plain;
}

constexpr std::array<bool, 256> kPlainBytes = MakePlainBytes();

// True when every byte is printable ASCII (0x20 to 0x7F) other than the
// double quote and the backslash: eight bytes at a time.
bool IsPlainAscii(const char* text, size_t length) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHighs = 0x8080808080808080ull;
  auto special = [](uint64_t x) {
    uint64_t quote = x ^ (kOnes * '"');
    uint64_t backslash = x ^ (kOnes * '\\');
    // A byte of 0x80 or more, below 0x20, or equal to one of the two.
    return (x | ((x - kOnes * 0x20) & ~x) | ((quote - kOnes) & ~quote) |
            ((backslash - kOnes) & ~backslash)) &
           kHighs;
  };
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t word;
    std::memcpy(&word, text + i, 8);
    if (special(word) != 0) return false;
  }
  if (i < length) {
    uint64_t word = kOnes * 'a';  // the bytes past the end stand for letters
    std::memcpy(&word, text + i, length - i);
    if (special(word) != 0) return false;
  }
  return true;
}

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

void TextBufferDeleter::operator()(char* p) const noexcept {
  if (mapped_bytes != 0) {
    munmap(p, mapped_bytes);
  } else {
    std::free(p);
  }
}

void GrowingText::Reserve(size_t length) {
  if (!buffer_) {
    buffer_.reset(static_cast<char*>(std::malloc(kInitialBytes)));
    if (!buffer_) throw std::bad_alloc();
    capacity_ = kInitialBytes;
  }
  if (capacity_ >= used_ + 2 * length + kMarginBytes) return;
  Grow(capacity_ + capacity_ / 3 + 2 * length + kGrowthExtraBytes);
}

void GrowingText::Grow(size_t capacity) {
  size_t mapped = buffer_.get_deleter().mapped_bytes;
  if (mapped == 0 && capacity < kMappedBytes) {
    auto* grown = static_cast<char*>(std::realloc(buffer_.get(), capacity));
    if (grown == nullptr) throw std::bad_alloc();
    (void)buffer_.release();
    buffer_.reset(grown);
    capacity_ = capacity;
    return;
  }
  // Whole huge pages, so that the end of the mapping is backed as well.
  capacity = (capacity + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
  void* grown;
  if (mapped == 0) {
    grown = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (grown == MAP_FAILED) throw std::bad_alloc();
    std::memcpy(grown, buffer_.get(), used_);
  } else {
    grown = mremap(buffer_.get(), mapped, capacity, MREMAP_MAYMOVE);
    if (grown == MAP_FAILED) throw std::bad_alloc();
    (void)buffer_.release();  // the old mapping is gone
  }
  // Only a hint: without huge pages the text is the same, written slower.
  (void)madvise(grown, capacity, MADV_HUGEPAGE);
  buffer_ = TextBuffer(static_cast<char*>(grown), TextBufferDeleter{capacity});
  capacity_ = capacity;
}

void GrowingText::Append(std::string_view bytes) {
  Reserve(bytes.size());
  std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
  used_ += bytes.size();
}

void GrowingText::AppendQuoted(const char* text, size_t length) {
  Reserve(length);
  PutQuoted(text, length);
}

void GrowingText::PutQuoted(const char* text, size_t length) {
  char* out = buffer_.get() + used_;
  *out++ = '"';
  // Most values of a table escape to themselves: copied while they are
  // checked, and escaped over the copy only when they hold a byte that
  // needs it.
  bool plain = text != nullptr;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (size_t i = 0; plain && i < length; ++i) {
    out[i] = static_cast<char>(bytes[i]);
    plain = kPlainBytes[bytes[i]];
  }
  size_t written = plain ? length : JsonEscapeToBuffer(out, text);
  out[written] = '"';
  used_ += written + 2;
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
  text_.PutQuoted(name, length);
}

// The first value ends the list of names.
void DatasetTextBuilder::CloseNames() {
  if (names_closed_) return;
  std::memcpy(text_.buffer_.get() + text_.used_, kNamesEnd.data(), kNamesEnd.size());
  text_.used_ += kNamesEnd.size();
  names_closed_ = true;
}

void DatasetTextBuilder::AddValue(const char* value, size_t length) {
  text_.Reserve(length);
  CloseNames();
  char* out = text_.buffer_.get();
  if (!first_value_) out[text_.used_++] = ',';
  first_value_ = false;
  text_.PutQuoted(value, length);
}

bool DatasetTextBuilder::AddPlainValue(const char* value, size_t length) {
  if (!IsPlainAscii(value, length)) return false;
  text_.Reserve(length);
  CloseNames();
  char* out = text_.buffer_.get();
  out += text_.used_;
  size_t written = 0;
  if (!first_value_) out[written++] = ',';
  first_value_ = false;
  out[written++] = '"';
  std::memcpy(out + written, value, length);
  written += length;
  out[written++] = '"';
  text_.used_ += written;
  return true;
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
