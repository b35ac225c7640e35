// keygen PRIVATE-KEY-FILE, sign PRIVATE-KEY-FILE PROGRAM VERSION [OUT]: what
// a publisher needs to sign the upgrade program that clients will accept.
#include "net/upgrade_signature.h"
#include "platform/file_system.h"
#include "platform/output_file.h"
#include "tools/tool_common.h"
#include "util/dotted_version.h"
#include "util/file_io.h"

namespace {

// A new file that only its owner can read: the mode is set before any key
// byte is written.
bool WriteOwnerOnly(const std::string& path, const std::string& bytes) {
  const size_t slash = path.rfind('/');
  const std::string parent = slash == std::string::npos ? "." : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  platform::OutputFile file = platform::CreateFileBelow(parent.empty() ? "/" : parent, name);
  return file.IsOpen() && file.SetMode(0600) && file.Write(bytes.data(), bytes.size()) &&
         file.Close();
}

}  // namespace

int RunKeygen(Arguments args) {
  if (args.size() != 1) return Fail("usage: tomerack-tool keygen PRIVATE-KEY-FILE", kExitUsage);
  std::string path;
  if (!ArgumentPath(args[0], path)) return kExitFailure;
  // A publisher's key is not replaced by mistake: clients trust only it.
  if (platform::PathExists(path)) return Fail(args[0] + " exists; not replaced");
  std::string pem;
  std::string public_key;
  if (!GenerateUpgradeKey(pem, public_key)) return Fail("cannot make a key pair");
  if (!WriteOwnerOnly(path, pem)) return Fail("cannot write " + args[0]);
  return WriteStdout(public_key + "\n") ? kExitOk : kExitFailure;
}

int RunSign(Arguments args) {
  if (args.size() != 3 && args.size() != 4) {
    return Fail("usage: tomerack-tool sign PRIVATE-KEY-FILE PROGRAM VERSION [OUT]", kExitUsage);
  }
  std::string key_path;
  std::string program;
  std::string out;
  if (!ArgumentPath(args[0], key_path) || !ArgumentPath(args[1], program)) return kExitFailure;
  if (args.size() == 4) {
    if (!ArgumentPath(args[3], out)) return kExitFailure;
  } else {
    // Beside the program, under the name the service publishes it with.
    const size_t slash = program.rfind('/');
    out = slash == std::string::npos ? "upgrade.sig" : program.substr(0, slash + 1) + "upgrade.sig";
  }
  const std::string& version = args[2];
  std::vector<uint32_t> numbers;
  if (!ParseDottedVersion(version, numbers)) {
    return Fail("version \"" + version + "\" is not dotted numbers (such as 1.10.0)");
  }
  std::string pem;
  if (!ReadWholeFile(key_path, pem)) return Fail("cannot read " + args[0]);
  std::string public_key;
  if (!UpgradePublicKeyOf(pem, public_key)) return Fail(args[0] + " holds no Ed25519 private key");
  std::string digest;
  if (!Sha256OfFile(program, digest)) return Fail("cannot read " + args[1]);
  std::string signature;
  if (!SignUpgrade(pem, version, digest, signature)) return Fail("cannot sign");
  if (!WriteWholeFile(signature.data(), signature.size(), out)) {
    return Fail("cannot write " + platform::ToNativePath(out));
  }
  return kExitOk;
}
