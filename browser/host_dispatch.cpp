#include "browser/host_dispatch.h"

#include <cmath>
#include <cstdio>

#include "platform/codepage.h"
#include "util/number_text.h"

DispatchResult CImpIDispatch::GetIDsOfNames(const std::u16string& name, int& id) {
  if (name == u"TestIt") {
    id = kDispIdTestIt;
    return DispatchResult::kOk;
  }
  if (GetMethodId(platform::Utf16ToGbk(name), id)) return DispatchResult::kOk;
  id = kDispIdUnknown;
  return DispatchResult::kUnknownName;
}

DispatchResult CImpIDispatch::Invoke(int id, int flags, const std::vector<ScriptValue>& arguments,
                                     ScriptValue& result) {
  result = ScriptValue();
  if (id != kDispIdTestIt) {
    InvokeMethod(id, flags, arguments, result);
    return DispatchResult::kOk;
  }
  if ((flags & kDispatchMethod) == 0) {
    result = ScriptValue::Bool(true);
    return DispatchResult::kOk;
  }
  if (arguments.size() != 2) return DispatchResult::kFalse;
  std::string text = "para1:" + TextArgument(arguments, 0) +
                     ",para2:" + std::to_string(IntegerArgument(arguments, 1));
  result = TextResult(text);
  return DispatchResult::kOk;
}

int CImpIDispatch::OnShowMessage(const std::string&, const std::string&) {
  return 0;
}
int CImpIDispatch::OnScriptError() {
  return 0;
}
bool CImpIDispatch::GetMethodId(const std::string&, int&) {
  return false;
}
void CImpIDispatch::InvokeMethod(int, int, const std::vector<ScriptValue>&, ScriptValue& result) {
  result = ScriptValue();
}

std::string TextArgument(const std::vector<ScriptValue>& arguments, size_t index) {
  if (index >= arguments.size()) return std::string();
  const ScriptValue& value = arguments[index];
  if (value.kind() != ScriptValueKind::kString && value.kind() != ScriptValueKind::kStringRef) {
    return std::string();
  }
  return platform::Utf16ToGbk(value.text());
}

int IntegerArgument(const std::vector<ScriptValue>& arguments, size_t index) {
  if (index >= arguments.size()) return 0;
  const ScriptValue& value = arguments[index];
  switch (value.kind()) {
    case ScriptValueKind::kInt16:
    case ScriptValueKind::kInt32:
    case ScriptValueKind::kByte:
    case ScriptValueKind::kInt32Ref:
      return value.integer();
    case ScriptValueKind::kDouble:
    case ScriptValueKind::kFloat: {
      double real = value.real();
      if (!std::isfinite(real) || std::fabs(real) >= 9.0e18) return 0;
      // Low 32 bits of the integer part, as a 64-bit integer converts.
      return static_cast<int>(static_cast<uint32_t>(static_cast<int64_t>(std::trunc(real))));
    }
    case ScriptValueKind::kString:
    case ScriptValueKind::kStringRef:
      return static_cast<int>(ParseLeadingInt(platform::Utf16ToGbk(value.text())));
    default:
      return 0;
  }
}

ScriptValue TextResult(std::string gbk) {
  return ScriptValue::AnsiString(std::move(gbk));
}
