// The wire between page script and window.external.
//
// Two scripts share the work in every trusted frame. The page's own script
// world gets a frozen window.external that forwards each access, as text,
// over a private element to a script in a world of the host's ("tomerack"),
// which page script can neither see nor change. Only that script holds a
// key; it talks to the host with synchronous requests whose body is JSON
// (UTF-8):
//   {"t": secret, "op": "hello", "u": location}   -> {"k": key} for this document
//   {"t": key, "op": "get", "name": "QuitApp"}    name -> id, property read
//   {"t": key, "op": "call", "id": 121, "args": [...]}    method call
//   {"t": key, "op": "has", "name": "QuitApp"}    name -> id only
// and whose answer is {"id": n, "v": value} or {"v": value} ("v" absent for
// undefined), or {"e": message}, which the forwarder throws. A call whose
// value is a text answers the text itself, unescaped, with the header
// kBareTextHeader: 1; the host's half hands it on behind a "T".
//
// The secret is the process's and lives only in the host's world; a key is
// handed to one document when the host admits it, and dies with the view's
// top document.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "util/script_value.h"

class CImpIDispatch;

// The scheme of the host's requests.
inline constexpr const char kHostBridgeScheme[] = "tomerack-host";
// The answer header that marks a bare text.
inline constexpr const char kBareTextHeader[] = "X-Tomerack-Text";
// The script world of the host's half of the bridge.
inline constexpr const char kHostScriptWorld[] = "tomerack";

// A fresh random token (secret or key).
std::string NewBridgeToken();

// The host's half, run in kHostScriptWorld of each trusted frame.
std::string BuildBridgeWorldScript(const std::string& secret);
// The page's half: the frozen forwarding window.external. It holds nothing
// secret, so page script that spies on it learns only its own calls.
std::string BuildExternalForwarderScript();
// The script for untrusted frames: they see no window.external at all.
std::string BuildNoExternalScript();

// The keys handed to the documents of one view.
class BridgeKeys {
 public:
  struct Holder {
    std::string origin;  // the Origin its hello came with
    std::string url;     // the document's own address, as its script saw it
  };
  std::string Issue(Holder holder);
  // The holder of a live key, or null.
  const Holder* Find(const std::string& key) const;
  // A new top document: every key handed out so far dies.
  void Renew() { keys_.clear(); }
  size_t size() const { return keys_.size(); }

 private:
  std::vector<std::pair<std::string, Holder>> keys_;
};

// Everything a request is judged by besides its body.
struct BridgeCaller {
  std::string origin;  // the request's Origin header, "" when absent
  // Whether a document of that origin at that address may have the host
  // object now; asked at the hello and again on every call.
  std::function<bool(const std::string& origin, const std::string& url)> admit;
};

// Carries out one request body against the object and gives the answer body.
// status is 200, or 403 when the secret or key is wrong or the caller is not
// admitted, 400 when the body is not a request; bare_text tells that the
// answer is a call's text as it is (UTF-8), not JSON.
std::string AnswerBridgeRequest(CImpIDispatch& external, const std::string& secret,
                                BridgeKeys& keys, const BridgeCaller& caller,
                                const std::string& body, int& status, bool& bare_text);

// JSON <-> script values, as the wire carries them.
ScriptValue ScriptValueFromJson(const void* json_item);
