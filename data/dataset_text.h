// The dataset text that pages receive for tabular data:
//
//   {\r\n\t"Rows":"N",\r\n\t"Columns":"C",\r\n\t"ColumnName":["a","b"],"Data":["1","x",...]\r\n}
//
// Data is one flat array of rows x columns strings, row by row. The text is
// built in one growing byte buffer, not through a JSON library, so that a
// large table costs one pass and few reallocations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

struct FreeDeleter {
  void operator()(char* p) const noexcept { std::free(p); }
};
using TextBuffer = std::unique_ptr<char[], FreeDeleter>;

// A finished dataset text; length counts the terminating zero byte.
struct DatasetText {
  TextBuffer data;
  size_t length = 0;

  std::string_view view() const {
    return length == 0 ? std::string_view() : std::string_view(data.get(), length - 1);
  }
};

// The most rows a dataset text holds; the row count field is sized for it.
inline constexpr uint32_t kDatasetMaxRows = 99999999;

// Writes a dataset text item by item. The header carries a placeholder row
// count that Finish replaces with the real one, padded with spaces, so the
// rows need not be counted in advance.
class DatasetTextBuilder {
 public:
  // Allocates the first 50000 bytes and writes the header. Throws
  // std::bad_alloc when memory runs out, here or later.
  explicit DatasetTextBuilder(int columns);

  // Column names, then values; both zero-terminated code page 936 texts,
  // escaped as they are written. A value stands for one cell, row by row.
  void AddColumnName(const char* name, size_t length);
  void AddValue(const char* value, size_t length);

  // Closes the text, writes the row count into the header and hands the
  // buffer over; the builder is empty afterwards.
  DatasetText Finish(uint32_t rows);

 private:
  // Makes room for an escaped text of length bytes and some framing.
  void Reserve(size_t length);
  void Append(std::string_view bytes);
  void AppendEscaped(const char* text);

  TextBuffer buffer_;
  size_t capacity_ = 0;
  size_t used_ = 0;
  bool names_closed_ = false;
  bool first_name_ = true;
  bool first_value_ = true;
};
