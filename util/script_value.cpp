#include "util/script_value.h"

#include <charconv>
#include <utility>

#include "platform/codepage.h"
#include "util/text_encoding.h"

ScriptValue ScriptValue::Int16(int16_t value) {
  ScriptValue v(ScriptValueKind::kInt16);
  v.integer_ = value;
  return v;
}

ScriptValue ScriptValue::Int32(int32_t value) {
  ScriptValue v(ScriptValueKind::kInt32);
  v.integer_ = value;
  return v;
}

ScriptValue ScriptValue::Bool(bool value) {
  // Automation's true is all bits set.
  ScriptValue v(ScriptValueKind::kBool);
  v.integer_ = value ? -1 : 0;
  return v;
}

ScriptValue ScriptValue::Byte(uint8_t value) {
  ScriptValue v(ScriptValueKind::kByte);
  v.integer_ = value;
  return v;
}

ScriptValue ScriptValue::Int32Ref(const int32_t* value) {
  ScriptValue v(ScriptValueKind::kInt32Ref);
  v.integer_ref_ = value;
  return v;
}

ScriptValue ScriptValue::Float(float value) {
  ScriptValue v(ScriptValueKind::kFloat);
  v.real_ = value;
  return v;
}

ScriptValue ScriptValue::Double(double value) {
  ScriptValue v(ScriptValueKind::kDouble);
  v.real_ = value;
  return v;
}

ScriptValue ScriptValue::String(std::u16string value) {
  ScriptValue v(ScriptValueKind::kString);
  v.text_ = std::move(value);
  return v;
}

ScriptValue ScriptValue::StringRef(const std::u16string* value) {
  ScriptValue v(ScriptValueKind::kStringRef);
  v.text_ref_ = value;
  return v;
}

int32_t ScriptValue::integer() const {
  if (kind_ == ScriptValueKind::kInt32Ref) return integer_ref_ != nullptr ? *integer_ref_ : 0;
  return integer_;
}

ScriptValue ScriptValue::AnsiString(std::string gbk) {
  ScriptValue v(ScriptValueKind::kString);
  v.ansi_ = std::move(gbk);
  v.widened_ = false;
  return v;
}

const std::u16string& ScriptValue::text() const {
  if (kind_ == ScriptValueKind::kStringRef && text_ref_ != nullptr) return *text_ref_;
  if (!widened_) {
    text_ = platform::GbkToUtf16(*ansi_);
    widened_ = true;
  }
  return text_;
}

std::string VariantToText(const ScriptValue& value) {
  switch (value.kind()) {
    case ScriptValueKind::kInt16:
    case ScriptValueKind::kInt32:
    case ScriptValueKind::kBool:
    case ScriptValueKind::kByte:
    case ScriptValueKind::kInt32Ref:
      return std::to_string(value.integer());
    case ScriptValueKind::kFloat:
    case ScriptValueKind::kDouble: {
      // The same digits as "%f", without the decimal comma a user locale
      // would give printf.
      char buffer[400];
      auto result =
          std::to_chars(buffer, buffer + sizeof buffer, value.real(), std::chars_format::fixed, 6);
      return std::string(buffer, result.ptr);
    }
    case ScriptValueKind::kString:
    case ScriptValueKind::kStringRef:
      return UnicodeToAnsi(value.text());
    case ScriptValueKind::kEmpty:
    case ScriptValueKind::kNull:
    case ScriptValueKind::kOther:
      break;
  }
  return {};
}
