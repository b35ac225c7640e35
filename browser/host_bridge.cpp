#include "browser/host_bridge.h"

#include <cJSON.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "browser/host_dispatch.h"
#include "platform/codepage.h"
#include "util/identifiers.h"
#include "util/json_tree.h"

namespace {

// The host's half. Page script cannot reach this world: its globals,
// prototypes and JSON are its own, so nothing a page changes on its side
// can read the secret or the key or alter the text sent to the host.
constexpr const char kBridgeWorldScriptTemplate[] = R"JS((function () {
  'use strict';
  var SECRET = '@SECRET@';
  var url = '@SCHEME@://bridge/call';
  var UNAVAILABLE = '{"u":1}';
  function post(request) {
    var x = new XMLHttpRequest();
    x.open('POST', url, false);
    x.send(JSON.stringify(request));
    if (x.status !== 200) return null;
    // A bare text is passed on behind its mark (a rope: nothing is copied).
    return x.getResponseHeader('@TEXT_HEADER@') === '1' ? 'T' + x.responseText : x.responseText;
  }
  var key = null;
  try {
    var hello = post({t: SECRET, op: 'hello', u: String(location.href)});
    var k = hello !== null ? JSON.parse(hello).k : null;
    if (typeof k === 'string') key = k;
  } catch (e) {}
  // Only names and plain values cross; anything else arrives as {}.
  function plain(value) {
    var type = typeof value;
    if (type === 'string' || type === 'boolean' || value === null) return value;
    if (type === 'number') return isFinite(value) ? value : null;
    return {};
  }
  function request(text) {
    var asked;
    try { asked = JSON.parse(String(text)); } catch (e) { return null; }
    if (!asked || typeof asked !== 'object') return null;
    if ((asked.op === 'get' || asked.op === 'has') && typeof asked.name === 'string')
      return {t: key, op: asked.op, name: asked.name};
    if (asked.op === 'call' && typeof asked.id === 'number' && Array.isArray(asked.args)) {
      var args = [];
      for (var i = 0; i < asked.args.length; i++) args.push(plain(asked.args[i]));
      return {t: key, op: 'call', id: asked.id, args: args};
    }
    return null;
  }
  var channel = null;
  function onCall(event) {
    var sent = key !== null ? request(event.detail) : null;
    var answer = null;
    if (sent !== null) { try { answer = post(sent); } catch (e) {} }
    channel.dispatchEvent(new CustomEvent('tomerack-answer', {detail: answer !== null ? answer : UNAVAILABLE}));
  }
  // The page's half shows its element once, before any page script runs;
  // whichever half starts second completes the meeting.
  window.addEventListener('tomerack-ping', function (event) {
    event.stopImmediatePropagation();
    if (channel !== null || !(event.relatedTarget instanceof Element)) return;
    channel = event.relatedTarget;
    channel.addEventListener('tomerack-call', onCall);
    channel.dispatchEvent(new CustomEvent('tomerack-ready', {detail: key !== null ? 'yes' : 'no'}));
  }, true);
  window.dispatchEvent(new Event('tomerack-ask'));
})();
)JS";

// The page's half. It keeps its element out of the document, so no page
// listener sees the calls and document.open() cannot drop the channel.
constexpr const char kExternalForwarderScript[] = R"JS((function () {
  'use strict';
  var channel = document.createElement('span');
  var apply = Reflect.apply, define = Object.defineProperty, freeze = Object.freeze;
  var listen = EventTarget.prototype.addEventListener, dispatch = EventTarget.prototype.dispatchEvent;
  var Custom = CustomEvent, Mouse = MouseEvent, stringify = JSON.stringify, parse = JSON.parse;
  var Err = Error, TypeErr = TypeError;
  var charAt = String.prototype.charAt, substring = String.prototype.substring;
  var answer;
  function ask(request) {
    answer = undefined;
    apply(dispatch, channel, [new Custom('tomerack-call', {detail: stringify(request)})]);
    if (typeof answer === 'string' && apply(charAt, answer, [0]) === 'T') {
      var text = apply(substring, answer, [1]);
      answer = undefined;
      return {v: text};
    }
    var reply = typeof answer === 'string' ? parse(answer) : null;
    answer = undefined;
    if (!reply || reply.u) throw new Err('window.external is not available here');
    if (typeof reply.e === 'string') throw new TypeErr(reply.e);
    return reply;
  }
  function plain(value) {
    var type = typeof value;
    return type === 'string' || type === 'number' || type === 'boolean' || value === null ? value
         : value === undefined ? null : {};
  }
  var handler = freeze({
    get: function (target, name) {
      if (typeof name !== 'string') return undefined;
      var id = ask({op: 'get', name: name}).id;
      return function () {
        var args = [];
        for (var i = 0; i < arguments.length; i++) args[i] = plain(arguments[i]);
        return ask({op: 'call', id: id, args: args}).v;
      };
    },
    has: function (target, name) {
      if (typeof name !== 'string') return false;
      return ask({op: 'has', name: name}).id !== -1;
    },
    set: function () { return true; },
    deleteProperty: function () { return true; },
    defineProperty: function () { return true; }
  });
  var external = new Proxy(Object.create(null), handler);
  var settled = false;
  function settle(available) {
    if (settled) return;
    settled = true;
    define(window, 'external', {value: available ? external : undefined, writable: false, configurable: false, enumerable: true});
  }
  apply(listen, channel, ['tomerack-answer', function (event) { answer = event.detail; }]);
  apply(listen, channel, ['tomerack-ready', function (event) { settle(event.detail === 'yes'); }]);
  function ping() {
    if (!settled) apply(dispatch, window, [new Mouse('tomerack-ping', {relatedTarget: channel})]);
  }
  apply(listen, window, ['tomerack-ask', ping, true]);
  ping();
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

std::string BuildBridgeWorldScript(const std::string& secret) {
  return Replace(Replace(Replace(kBridgeWorldScriptTemplate, "@SECRET@", secret), "@SCHEME@",
                         kHostBridgeScheme),
                 "@TEXT_HEADER@", kBareTextHeader);
}

std::string BuildExternalForwarderScript() {
  return kExternalForwarderScript;
}

std::string BridgeKeys::Issue(Holder holder) {
  // A page that loads frame after frame must not grow this without end;
  // the first key, normally the top document's, is kept.
  constexpr size_t kMostKeys = 256;
  if (keys_.size() >= kMostKeys) keys_.erase(keys_.begin() + 1);
  std::string key = NewBridgeToken();
  keys_.emplace_back(key, std::move(holder));
  return key;
}

const BridgeKeys::Holder* BridgeKeys::Find(const std::string& key) const {
  if (key.empty()) return nullptr;
  for (const auto& [known, holder] : keys_) {
    if (known == key) return &holder;
  }
  return nullptr;
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

std::string AnswerBridgeRequest(CImpIDispatch& external, const std::string& secret,
                                BridgeKeys& keys, const BridgeCaller& caller,
                                const std::string& body, int& status, bool& bare_text) {
  bare_text = false;
  JsonPtr request = ParseJson(body);
  if (!request || !cJSON_IsObject(request.get())) {
    status = 400;
    return ErrorAnswer("bad request");
  }
  const char* sent = JsonStringMember(request.get(), "t");
  const char* op = JsonStringMember(request.get(), "op");
  status = 403;
  if (sent == nullptr || op == nullptr) return ErrorAnswer("refused");
  if (std::strcmp(op, "hello") == 0) {
    const char* url = JsonStringMember(request.get(), "u");
    if (secret.empty() || secret != sent || url == nullptr || !caller.admit ||
        !caller.admit(caller.origin, url)) {
      return ErrorAnswer("refused");
    }
    status = 200;
    JsonPtr answer(cJSON_CreateObject());
    cJSON_AddStringToObject(answer.get(), "k", keys.Issue({caller.origin, url}).c_str());
    return PrintJson(answer.get(), false);
  }
  // A key works only from the origin it was handed to, and only while that
  // document would still be admitted.
  const BridgeKeys::Holder* holder = keys.Find(sent);
  if (holder == nullptr || holder->origin != caller.origin || !caller.admit ||
      !caller.admit(holder->origin, holder->url)) {
    return ErrorAnswer("refused");
  }
  status = 200;
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
  // A call's text goes out as it is: a result may be tens of MiB (a file as
  // Base64), which is then neither copied here nor escaped and parsed.
  if (std::strcmp(op, "call") == 0 && (result.kind() == ScriptValueKind::kString ||
                                       result.kind() == ScriptValueKind::kStringRef)) {
    bare_text = true;
    if (std::string* ansi = result.mutable_ansi_text()) {
      return platform::IsAsciiText(*ansi) ? std::move(*ansi) : platform::GbkToUtf8(*ansi);
    }
    return platform::Utf16ToUtf8(result.text());
  }
  if (cJSON* value = ScriptValueToJson(result)) cJSON_AddItemToObject(answer.get(), "v", value);
  return PrintJson(answer.get(), false);
}
