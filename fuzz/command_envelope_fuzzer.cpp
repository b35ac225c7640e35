// The command envelope of AppInterface on any page text: parsing, the
// header members, the functions every window knows and the reply.
#include <cstdint>
#include <string>

#include "app/command_envelope.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A window of its own per input: queued calls and windows do not pile up.
  CDialogIE_Interface window;
  std::string reply = window.ExecuteCommand(fuzz_support::AsText(data, size));
  if (reply.empty()) __builtin_trap();
  return 0;
}
