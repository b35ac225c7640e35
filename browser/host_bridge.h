// The wire between page script and window.external. A script added to every
// trusted frame defines window.external as a proxy; each access is a
// synchronous request to the host whose body is JSON (UTF-8):
//   {"t": token, "op": "get", "name": "QuitApp"}            name -> id, property read
//   {"t": token, "op": "call", "id": 121, "args": [...]}    method call
//   {"t": token, "op": "has", "name": "QuitApp"}            name -> id only
// and whose answer is {"id": n, "v": value} or {"v": value} ("v" absent for
// undefined), or {"e": message}, which the proxy throws.
#pragma once

#include <string>
#include <vector>

#include "util/script_value.h"

class CImpIDispatch;

// The scheme of the host's requests; pages cannot reach it without the
// script, and the script carries a token that only the host knows.
inline constexpr const char kHostBridgeScheme[] = "tomerack-host";

// A fresh random token for this process.
std::string NewBridgeToken();

// The script that defines window.external, for a given token.
std::string BuildBridgeScript(const std::string& token);
// The script for untrusted frames: they see no window.external at all.
std::string BuildNoExternalScript();

// Carries out one request body against the object and gives the answer body.
// status is 200, or 403 when the token is wrong, 400 when the body is not a
// request.
std::string AnswerBridgeRequest(CImpIDispatch& external, const std::string& token,
                                const std::string& body, int& status);

// JSON <-> script values, as the wire carries them.
ScriptValue ScriptValueFromJson(const void* json_item);
