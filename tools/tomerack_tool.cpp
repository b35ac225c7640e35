// tomerack-tool: administration of a client's program directory without the
// window: sealed files, Config.EF, digests, upgrade signatures.
#include <cstring>
#include <exception>

#include "tools/tool_common.h"

namespace {

constexpr const char kHelp[] =
    "usage: tomerack-tool COMMAND ...\n"
    "  seal [--record] IN OUT          seal a plain file (Config.EF layout; --record: book file)\n"
    "  unseal [--record] IN [OUT]      unseal to OUT or to standard output (UTF-8)\n"
    "  config [--program-dir DIR] list | get KEY | set KEY VALUE\n"
    "                                  show or change DIR/system/Config.EF\n"
    "  md5 FILE                        the file's MD5 digest\n"
    "  base64 FILE                     the file's Base64 text\n"
    "  zip list ARCHIVE | extract ARCHIVE DIR\n"
    "                                  list a package, or unpack it as the client installs it\n"
    "  http get URL [--out FILE]       GET; the body to FILE or (text) to standard output\n"
    "  http range URL FILE [--offset N]  resumable download into FILE; prints the result code\n"
    "  db FILE [--names-only] [--sql SQL]\n"
    "                                  a data file's tables (or names, or one statement) as JSON\n"
    "  books --program-dir DIR --uid UID start | sync | status | download BSID |\n"
    "        upgrade BSID | uninstall BSID | verify BSID|--all | repair BSID\n"
    "                                  the client's book work without its window\n"
    "  keygen PRIVATE-KEY-FILE         make an upgrade signing key (PEM, owner-only);\n"
    "                                  prints the public key text for UpgradePublicKey\n"
    "  sign PRIVATE-KEY-FILE PROGRAM VERSION [OUT]\n"
    "                                  sign an upgrade program with its version text;\n"
    "                                  OUT defaults to upgrade.sig beside PROGRAM\n"
    "Exit status: 0 success, 1 failure, 2 wrong usage; books verify and repair:\n"
    "3 a book is damaged, 4 a book could not be checked.\n";

int Dispatch(const std::string& command, Arguments args) {
  if (command == "seal") return RunSeal(std::move(args));
  if (command == "unseal") return RunUnseal(std::move(args));
  if (command == "config") return RunConfig(std::move(args));
  if (command == "md5") return RunMd5(std::move(args));
  if (command == "base64") return RunBase64(std::move(args));
  if (command == "zip") return RunZip(std::move(args));
  if (command == "http") return RunHttp(std::move(args));
  if (command == "db") return RunDb(std::move(args));
  if (command == "books") return RunBooks(std::move(args));
  if (command == "keygen") return RunKeygen(std::move(args));
  if (command == "sign") return RunSign(std::move(args));
  return Fail("unknown command \"" + command + "\"; try --help", kExitUsage);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Fail("usage: tomerack-tool COMMAND ...; try --help", kExitUsage);
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kHelp, stdout);
    return kExitOk;
  }
  Arguments args(argv + 2, argv + argc);
  try {
    return Dispatch(argv[1], std::move(args));
  } catch (const std::exception& e) {
    // Out of memory on a huge file, for instance: one clear line, no crash.
    return Fail(std::string("failed: ") + e.what());
  }
}
