// The page's window.external: names become method ids, calls carry a flag
// (method call or property read), arguments and a result.
#pragma once

#include <string>
#include <vector>

#include "util/script_value.h"

enum DispatchFlags {
  kDispatchMethod = 1,
  kDispatchPropertyGet = 2,
};

enum class DispatchResult {
  kOk,           // S_OK
  kFalse,        // S_FALSE
  kUnknownName,  // DISP_E_UNKNOWNNAME: the page sees an exception
};

inline constexpr int kDispIdUnknown = -1;
inline constexpr int kDispIdTestIt = 1;

class CImpIDispatch {
 public:
  virtual ~CImpIDispatch() = default;

  // The name as the page wrote it (UTF-16). "TestIt" is matched exactly,
  // every other name through GetMethodId.
  DispatchResult GetIDsOfNames(const std::u16string& name, int& id);
  // Arguments in the page's order. Always kOk, except TestIt called with
  // other than two arguments (kFalse).
  DispatchResult Invoke(int id, int flags, const std::vector<ScriptValue>& arguments,
                        ScriptValue& result);

  // Hooks a window may use: non-zero means "dealt with".
  virtual int OnShowMessage(const std::string& text, const std::string& caption);
  virtual int OnScriptError();
  // name is GBK.
  virtual bool GetMethodId(const std::string& name, int& id);
  virtual void InvokeMethod(int id, int flags, const std::vector<ScriptValue>& arguments,
                            ScriptValue& result);
};

// Argument i as GBK text; empty for a missing argument or one that is not a
// string.
std::string TextArgument(const std::vector<ScriptValue>& arguments, size_t index);
// Argument i as an integer: 32-bit numbers, doubles (truncated) and decimal
// texts; other kinds and missing arguments give 0.
int IntegerArgument(const std::vector<ScriptValue>& arguments, size_t index);
// A GBK text as a script string.
ScriptValue TextResult(std::string gbk);
