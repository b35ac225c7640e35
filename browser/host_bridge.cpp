#include "browser/host_bridge.h"

#include <cJSON.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "browser/host_dispatch.h"
#include "platform/codepage.h"
#include "util/identifiers.h"
#include "util/json_tree.h"

namespace {

// Private copies of everything the proxy uses, taken before any page script
// runs, so that a page cannot break or spy on the calls.
constexpr const char kBridgeScriptTemplate[] = R"JS((function () {
  'use strict';
  var TOKEN = '@TOKEN@';
  var XHR = window.XMLHttpRequest;
  var proto = XHR.prototype;
  var open = proto.open, send = proto.send;
  var statusOf = Object.getOwnPropertyDescriptor(proto, 'status').get;
  var textOf = Object.getOwnPropertyDescriptor(proto, 'responseText').get;
  var apply = Reflect.apply, stringify = JSON.stringify, parse = JSON.parse;
  var slice = Array.prototype.slice, Err = Error, TypeErr = TypeError;
  var url = '@SCHEME@://bridge/call';
  function ask(request) {
    var x = new XHR();
    apply(open, x, ['POST', url, false]);
    apply(send, x, [stringify(request)]);
    if (apply(statusOf, x, []) !== 200) throw new Err('window.external is not available here');
    var answer = parse(apply(textOf, x, []));
    if (typeof answer.e === 'string') throw new TypeErr(answer.e);
    return answer;
  }
  var handler = {
    get: function (target, name) {
      if (typeof name !== 'string') return undefined;
      var id = ask({t: TOKEN, op: 'get', name: name}).id;
      return function () {
        return ask({t: TOKEN, op: 'call', id: id, args: apply(slice, arguments, [])}).v;
      };
    },
    has: function (target, name) {
      if (typeof name !== 'string') return false;
      return ask({t: TOKEN, op: 'has', name: name}).id !== -1;
    },
    set: function () { return true; },
    deleteProperty: function () { return true; },
    defineProperty: function () { return true; }
  };
  var external = new Proxy(Object.create(null), handler);
  Object.defineProperty(window, 'external', {value: external, writable: false, configurable: false, enumerable: true});
})();
)JS";

constexpr const char kNoExternalScript[] = R"JS((function () {
  try {
    Object.defineProperty(window, 'external', {value: undefined, writable: false, configurable: false});
  } catch (e) {}
})();
)JS";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

cJSON* ScriptValueToJson(const ScriptValue& value) {
  switch (value.kind()) {
    case ScriptValueKind::kNull:
      return cJSON_CreateNull();
    case ScriptValueKind::kBool:
      return cJSON_CreateBool(value.integer() != 0);
    case ScriptValueKind::kInt16:
    case ScriptValueKind::kInt32:
    case ScriptValueKind::kByte:
    case ScriptValueKind::kInt32Ref:
      return cJSON_CreateNumber(value.integer());
    case ScriptValueKind::kFloat:
    case ScriptValueKind::kDouble:
      return cJSON_CreateNumber(value.real());
    case ScriptValueKind::kString:
    case ScriptValueKind::kStringRef:
      return cJSON_CreateString(platform::Utf16ToUtf8(value.text()).c_str());
    default:
      return nullptr;  // undefined
  }
}

std::string ErrorAnswer(const char* message) {
  JsonPtr answer(cJSON_CreateObject());
  cJSON_AddStringToObject(answer.get(), "e", message);
  return PrintJson(answer.get(), false);
}

}  // namespace

std::string NewBridgeToken() {
  std::string token = NewIdentifierText();
  std::string clean;
  for (char c : token) {
    if (std::isalnum(static_cast<unsigned char>(c))) clean += c;
  }
  return clean;
}

std::string BuildBridgeScript(const std::string& token) {
  return Replace(Replace(kBridgeScriptTemplate, "@TOKEN@", token), "@SCHEME@", kHostBridgeScheme);
}

std::string BuildNoExternalScript() {
  return kNoExternalScript;
}

ScriptValue ScriptValueFromJson(const void* json_item) {
  const cJSON* item = static_cast<const cJSON*>(json_item);
  if (item == nullptr) return ScriptValue();
  if (cJSON_IsNull(item)) return ScriptValue::Null();
  if (cJSON_IsBool(item)) return ScriptValue::Bool(cJSON_IsTrue(item));
  if (cJSON_IsNumber(item)) {
    double number = item->valuedouble;
    if (std::isfinite(number) && std::trunc(number) == number && number >= INT32_MIN &&
        number <= INT32_MAX) {
      return ScriptValue::Int32(static_cast<int32_t>(number));
    }
    return ScriptValue::Double(number);
  }
  if (cJSON_IsString(item)) {
    std::u16string text;
    (void)platform::Utf8ToUtf16(item->valuestring, text);
    return ScriptValue::String(std::move(text));
  }
  return ScriptValue::Other();
}

std::string AnswerBridgeRequest(CImpIDispatch& external, const std::string& token,
                                const std::string& body, int& status) {
  JsonPtr request = ParseJson(body);
  if (!request || !cJSON_IsObject(request.get())) {
    status = 400;
    return ErrorAnswer("bad request");
  }
  const char* sent_token = JsonStringMember(request.get(), "t");
  if (token.empty() || sent_token == nullptr || token != sent_token) {
    status = 403;
    return ErrorAnswer("refused");
  }
  status = 200;
  const char* op = JsonStringMember(request.get(), "op");
  JsonPtr answer(cJSON_CreateObject());
  ScriptValue result;
  if (op != nullptr && std::strcmp(op, "has") == 0) {
    // "name in window.external": the name is looked up, nothing is invoked.
    const char* name = JsonStringMember(request.get(), "name");
    std::u16string wide;
    int id = kDispIdUnknown;
    if (name == nullptr || !platform::Utf8ToUtf16(name, wide) ||
        external.GetIDsOfNames(wide, id) != DispatchResult::kOk) {
      id = kDispIdUnknown;
    }
    cJSON_AddNumberToObject(answer.get(), "id", id);
  } else if (op != nullptr && std::strcmp(op, "get") == 0) {
    const char* name = JsonStringMember(request.get(), "name");
    std::u16string wide;
    if (name == nullptr || !platform::Utf8ToUtf16(name, wide)) return ErrorAnswer("bad name");
    int id = kDispIdUnknown;
    if (external.GetIDsOfNames(wide, id) != DispatchResult::kOk) {
      return ErrorAnswer((std::string("window.external has no member ") + name).c_str());
    }
    external.Invoke(id, kDispatchPropertyGet, {}, result);
    cJSON_AddNumberToObject(answer.get(), "id", id);
  } else if (op != nullptr && std::strcmp(op, "call") == 0) {
    const cJSON* id = cJSON_GetObjectItem(request.get(), "id");
    if (!cJSON_IsNumber(id)) return ErrorAnswer("bad id");
    std::vector<ScriptValue> arguments;
    const cJSON* list = cJSON_GetObjectItem(request.get(), "args");
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, list) {
      arguments.push_back(ScriptValueFromJson(item));
    }
    external.Invoke(id->valueint, kDispatchMethod, arguments, result);
  } else {
    status = 400;
    return ErrorAnswer("bad request");
  }
  if (cJSON* value = ScriptValueToJson(result)) cJSON_AddItemToObject(answer.get(), "v", value);
  return PrintJson(answer.get(), false);
}
