// The host's side of the bridge on any request body. The input may write
// SECRET and KEY where the process's secret and a live key belong, so that
// the fuzzer reaches past the checks of the hello and of every call.
#include <cstdint>
#include <string>

#include "browser/host_bridge.h"
#include "browser/host_dispatch.h"
#include "fuzz/fuzz_support.h"

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CImpIDispatch external;
  BridgeKeys keys;
  const std::string secret = NewBridgeToken();
  const std::string key = keys.Issue({"null", "file:///opt/tomerack/DTM/Index.html"});
  BridgeCaller caller;
  caller.origin = "null";
  caller.admit = [](const std::string&, const std::string&) { return true; };

  std::string body = fuzz_support::AsText(data, size);
  ReplaceAll(body, "SECRET", secret);
  ReplaceAll(body, "KEY", key);
  int status = 0;
  bool bare_text = false;
  AnswerBridgeRequest(external, secret, keys, caller, body, status, bare_text);
  if (status != 200 && status != 400 && status != 403) __builtin_trap();
  return 0;
}
