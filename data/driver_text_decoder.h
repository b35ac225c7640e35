// Texts from a UTF-8 driver turned into code page 936, as Utf8ToAnsi does,
// but fast enough for every cell of a large result: each UTF-16 unit is
// converted once and then answered from a table.
#pragma once

#include <memory>
#include <string>
#include <string_view>

class DriverTextDecoder {
 public:
  // Converts text in place. ASCII is left as it is.
  void ToAnsi(std::string& text);

  // The converted text: text itself when it is ASCII, else a text the
  // decoder holds until its next call, zero-terminated.
  std::string_view ToAnsi(std::string_view text);

 private:
  struct Entry {
    char bytes[2];
    unsigned char length;  // 0: not converted yet
  };
  // The entry of unit, converted on first need.
  const Entry& Lookup(char16_t unit);
  // Decodes text into out_ when it is valid UTF-8 of one- to three-byte
  // sequences; false, with out_ undefined, otherwise.
  bool DecodeCommon(std::string_view text);

  std::unique_ptr<Entry[]> table_;  // one entry per UTF-16 unit, made on first need
  std::u16string wide_;
  std::string out_;
};
