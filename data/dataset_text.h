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

// Frees a text buffer: from malloc, or a mapping of its own when it grew
// large (mapped_bytes is then its size).
struct TextBufferDeleter {
  size_t mapped_bytes = 0;
  void operator()(char* p) const noexcept;
};
using TextBuffer = std::unique_ptr<char[], TextBufferDeleter>;

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

// A byte buffer that grows as a dataset text needs: it starts at 50000
// bytes, and when a text of length bytes might not fit escaped with its
// framing it grows by a third plus twice that length plus 10240 bytes.
// Once it is large it is a mapping of its own, asked to be backed by huge
// pages (a large answer otherwise costs one page fault for every 4 KiB it
// is written into), and it grows by remapping, so a large text is never
// copied or held twice while it grows. Throws std::bad_alloc when memory
// runs out.
class GrowingText {
 public:
  GrowingText() = default;
  GrowingText(GrowingText&& other) noexcept;
  GrowingText& operator=(GrowingText&& other) noexcept;

  // Makes room for a text of length bytes escaped (at most twice as long)
  // and some framing.
  void Reserve(size_t length);

  // Both make room first.
  void Append(std::string_view bytes);
  // A double quote, the text escaped with JsonEscapeToBuffer, a double
  // quote. The text is length bytes followed by a zero byte; a zero byte
  // inside it ends it there, as it ends it for JsonEscapeToBuffer.
  void AppendQuoted(const char* text, size_t length);

  size_t size() const { return used_; }
  char* data() { return buffer_.get(); }
  // Drops what was written after size bytes.
  void Truncate(size_t size) { used_ = size < used_ ? size : used_; }

  // Zero-terminates the text and hands it over; empty afterwards. An
  // untouched buffer gives a text of length 0.
  DatasetText Release();

 private:
  friend class DatasetTextBuilder;

  // Moves the text into a buffer of capacity bytes.
  void Grow(size_t capacity);
  // AppendQuoted without making room.
  void PutQuoted(const char* text, size_t length);

  TextBuffer buffer_;
  size_t capacity_ = 0;
  size_t used_ = 0;
};

// Writes a dataset text item by item. The header carries a placeholder row
// count that Finish replaces with the real one, padded with spaces, so the
// rows need not be counted in advance.
class DatasetTextBuilder {
 public:
  // Allocates the first 50000 bytes and writes the header. Throws
  // std::bad_alloc when memory runs out, here or later.
  explicit DatasetTextBuilder(int columns);
  // Writes the header at the end of text, which may already hold text of
  // its own and must outlive the builder.
  DatasetTextBuilder(int columns, GrowingText& text);
  DatasetTextBuilder(const DatasetTextBuilder&) = delete;
  DatasetTextBuilder& operator=(const DatasetTextBuilder&) = delete;

  // Column names, then values; both code page 936 texts of length bytes
  // followed by a zero byte (one inside a text ends it there), escaped as
  // they are written. A value stands for one cell, row by row.
  void AddColumnName(const char* name, size_t length);
  void AddValue(const char* value, size_t length);
  // AddValue for a value of printable ASCII that needs no escape, as most
  // values of a table are; such a text is the same in UTF-8 and in code
  // page 936, so a driver's value can be written before any conversion.
  // False, with nothing written, for any other value.
  bool AddPlainValue(const char* value, size_t length);

  // Closes the text and writes the row count into the header; the text
  // stays in the buffer, for more text after it.
  void Close(uint32_t rows);
  // Closes the text and hands the buffer over; the builder is empty
  // afterwards.
  DatasetText Finish(uint32_t rows);

 private:
  void CloseNames();
  GrowingText own_;
  GrowingText& text_;
  size_t start_ = 0;  // where the dataset text begins in text_
  bool names_closed_ = false;
  bool first_name_ = true;
  bool first_value_ = true;
};
