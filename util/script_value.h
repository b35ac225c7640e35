// The values that page script hands to the host's methods, in the kinds the
// automation variant distinguishes, and their rendering as ANSI text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

enum class ScriptValueKind {
  kEmpty,
  kNull,
  kInt16,
  kInt32,
  kBool,
  kByte,
  kInt32Ref,
  kFloat,
  kDouble,
  kString,     // UTF-16
  kStringRef,  // UTF-16, held by the caller
  kOther,      // objects, arrays, dates and whatever else has no text form
};

class ScriptValue {
 public:
  ScriptValue() = default;  // empty

  static ScriptValue Null() { return ScriptValue(ScriptValueKind::kNull); }
  static ScriptValue Int16(int16_t value);
  static ScriptValue Int32(int32_t value);
  static ScriptValue Bool(bool value);
  static ScriptValue Byte(uint8_t value);
  // The referenced integer must outlive the value.
  static ScriptValue Int32Ref(const int32_t* value);
  static ScriptValue Float(float value);
  static ScriptValue Double(double value);
  static ScriptValue String(std::u16string value);
  // The referenced string must outlive the value.
  static ScriptValue StringRef(const std::u16string* value);
  // A string held in the code page (GBK), as the host's methods make their
  // results; it is widened only when text() is asked for, so that a large
  // result can reach the page without a UTF-16 copy.
  static ScriptValue AnsiString(std::string gbk);
  static ScriptValue Other() { return ScriptValue(ScriptValueKind::kOther); }

  ScriptValueKind kind() const { return kind_; }
  // The integer of the integer kinds, booleans as -1 and 0, a missing
  // reference as 0; 0 for other kinds.
  int32_t integer() const;
  // The number of the floating-point kinds; 0 for other kinds.
  double real() const { return real_; }
  // The string of the string kinds, a missing reference as empty; empty for
  // other kinds.
  const std::u16string& text() const;
  // The GBK text of a string made by AnsiString, else null.
  const std::string* ansi_text() const {
    return kind_ == ScriptValueKind::kString && ansi_ ? &*ansi_ : nullptr;
  }
  // The same, for a caller that takes the text away (the value is then
  // spent).
  std::string* mutable_ansi_text() {
    return kind_ == ScriptValueKind::kString && ansi_ ? &*ansi_ : nullptr;
  }

 private:
  explicit ScriptValue(ScriptValueKind kind) : kind_(kind) {}

  ScriptValueKind kind_ = ScriptValueKind::kEmpty;
  int32_t integer_ = 0;
  double real_ = 0;
  mutable std::u16string text_;
  // Set for AnsiString values; text_ is filled from it on first use.
  std::optional<std::string> ansi_;
  mutable bool widened_ = true;
  const int32_t* integer_ref_ = nullptr;
  const std::u16string* text_ref_ = nullptr;
};

// ANSI text of a script value: integers, booleans (true as -1), bytes and
// integer references with "%d"; floating-point values with "%f"; strings
// converted from UTF-16; empty for every other kind.
std::string VariantToText(const ScriptValue& value);
