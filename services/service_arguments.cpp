#include "services/service_arguments.h"

#include "browser/host_dispatch.h"
#include "platform/codepage.h"
#include "util/number_text.h"

int32_t IntegerOf(const std::vector<ScriptValue>& arguments, size_t index, unsigned kinds,
                  int32_t fallback) {
  if (index >= arguments.size()) return fallback;
  const ScriptValue& value = arguments[index];
  switch (value.kind()) {
    case ScriptValueKind::kInt16:
    case ScriptValueKind::kInt32:
    case ScriptValueKind::kInt32Ref:
      return (kinds & kIntegerNumbers) != 0 ? value.integer() : fallback;
    case ScriptValueKind::kByte:
    case ScriptValueKind::kBool:
      return (kinds & kIntegerBytes) != 0 ? value.integer() : fallback;
    case ScriptValueKind::kString:
      return (kinds & kIntegerText) != 0 ? ParseLeadingInt(platform::Utf16ToGbk(value.text()))
                                         : fallback;
    case ScriptValueKind::kStringRef:
      return (kinds & kIntegerTextRef) != 0 ? ParseLeadingInt(platform::Utf16ToGbk(value.text()))
                                            : fallback;
    default:
      return fallback;
  }
}

std::vector<std::string> TextsOf(const std::vector<ScriptValue>& arguments) {
  std::vector<std::string> texts;
  texts.reserve(arguments.size());
  for (size_t i = 0; i < arguments.size(); ++i) texts.push_back(TextArgument(arguments, i));
  return texts;
}
