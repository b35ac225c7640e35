// Base64 with the standard alphabet, in the form the pages expect.
//
// Texts are std::string; byte arrays are std::vector<uint8_t>. Every encoded
// text ends with "=": a whole final group of three bytes is followed by one
// "=" too, so an empty input encodes to "=". The decoder takes the first "="
// as the end of the data. The text encoders break the text after every 72
// Base64 characters with CR LF; the byte-array encoder does not break lines.
//
// The object is cheap and holds no resources; make one on the stack per use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CBase64Coding {
 public:
  CBase64Coding() = default;

  // Fills the decode table; the first decode does it when the table is
  // still empty.
  virtual void BuildDecodeTable();
  virtual ~CBase64Coding() = default;

  // True when decoding ended at "=". Without the end marker the bytes of the
  // complete groups are kept and the result is false. A character outside
  // the alphabet, or text that ends inside a group, empties bytes and gives
  // false; white space after the last group counts as a group begun. Tab,
  // CR, LF and space are skipped wherever they stand. bytes may be the text.
  [[nodiscard]] virtual bool DecodeText(const std::string& text, std::vector<uint8_t>& bytes);
  [[nodiscard]] virtual bool DecodeBytes(const std::vector<uint8_t>& text,
                                         std::vector<uint8_t>& bytes);

  // Encoders replace the output and always return true.
  virtual bool EncodeRawToText(const void* data, size_t count, std::string& text);
  virtual bool EncodeBytesToText(const std::vector<uint8_t>& bytes, std::string& text);
  virtual bool EncodeBytesToBytes(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& text);

 private:
  bool Decode(const uint8_t* text, size_t count, std::vector<uint8_t>& bytes);

  // 0-63 for alphabet characters, kSkip for white space, kInvalid for the
  // rest ("=" included). All zero until built.
  uint8_t decode_table_[256] = {};
};
