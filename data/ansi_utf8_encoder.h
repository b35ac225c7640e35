// Code page 936 texts turned into UTF-8 for output, as GbkToUtf8 does, but
// fast enough for a whole data-file answer of many megabytes: ASCII is
// copied as it is, and each double-byte character is converted once and then
// answered from a table.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class AnsiToUtf8Encoder {
 public:
  // Converts text and hands the UTF-8 to sink in pieces of about a
  // mebibyte, each ending on a character boundary. A lead byte followed by
  // a byte of 0x40 or more forms one character with it (a pair that code
  // page 936 does not hold becomes "?"); any other byte of 0x80 or more
  // stands alone. Stops with false as soon as sink answers false.
  bool Encode(std::string_view text, const std::function<bool(std::string_view)>& sink);

 private:
  struct Entry {
    char bytes[4];
    unsigned char length;  // 0: not converted yet
  };
  // The UTF-8 of one character of one or two bytes, converted the first
  // time it is needed.
  const Entry& Lookup(std::string_view character, unsigned index);

  std::unique_ptr<Entry[]> table_;  // single bytes 0x80-0xFF, then lead x byte pairs
  std::string out_;                 // the piece being written
};
