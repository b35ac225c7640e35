// seal [--record] IN OUT, unseal [--record] IN [OUT]
#include "app/config_file.h"
#include "app/config_key.h"
#include "app/sealed_file.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "tools/tool_common.h"
#include "util/file_io.h"

namespace {

const char* SealResultName(int code) {
  switch (code) {
    case kSealNoFile:
      return "2 (file missing, unreadable or empty)";
    case kSealTooShort:
      return "3 (shorter than the 32-byte header)";
    case kSealNeedsKey:
      return "5 (sealed with a key that was not given)";
    default:
      return "unknown";
  }
}

bool ReadInput(const std::string& path, std::string& data) {
  if (ReadWholeFile(path, data)) return true;
  // An empty file is a valid plain text; a missing one is not.
  uint64_t size = 0;
  return GetFileSizeOf(path, size) && size == 0;
}

}  // namespace

int RunSeal(Arguments args) {
  bool record = TakeFlag(args, "--record");
  if (args.size() != 2) return Fail("usage: tomerack-tool seal [--record] IN OUT", kExitUsage);
  std::string in, out, plain;
  if (!ArgumentPath(args[0], in) || !ArgumentPath(args[1], out)) return kExitFailure;
  if (!ReadInput(in, plain)) return Fail("cannot read " + args[0]);
  BuildConfigKey();
  if (record) {
    if (WriteSealedFile(plain, out) != kSealOk) return Fail("cannot write " + args[1]);
    return kExitOk;
  }
  std::string sealed = SealConfigText(plain);
  if (!WriteWholeFileAtomically(sealed.data(), sealed.size(), out)) {
    return Fail("cannot write " + args[1]);
  }
  return kExitOk;
}

int RunUnseal(Arguments args) {
  bool record = TakeFlag(args, "--record");
  if (args.empty() || args.size() > 2) {
    return Fail("usage: tomerack-tool unseal [--record] IN [OUT]", kExitUsage);
  }
  std::string in, out;
  if (!ArgumentPath(args[0], in)) return kExitFailure;
  if (args.size() == 2 && !ArgumentPath(args[1], out)) return kExitFailure;
  BuildConfigKey();
  std::string text;
  int code = ReadSealedFile(in, record ? kRecordOuterByte : 0, text);
  if (code != kSealOk) {
    return Fail("cannot unseal " + args[0] + ": result code " + SealResultName(code));
  }
  if (out.empty()) {
    // The terminal gets UTF-8; a file gets the exact bytes.
    if (!WriteStdout(platform::GbkToUtf8(text))) return Fail("cannot write standard output");
    return kExitOk;
  }
  if (!WriteWholeFileAtomically(text.data(), text.size(), out))
    return Fail("cannot write " + args[1]);
  return kExitOk;
}
