#include <cstdlib>
#include <cstring>

#include "demo/demo_service.h"

const char kDemoUsage[] =
    "usage: tomerack-demo-service [options]\n"
    "  --port N            listen on 127.0.0.1:N (0, the default: any free port)\n"
    "  --port-file FILE    write the port chosen to FILE\n"
    "  --stop-after SECS   stop by itself after SECS seconds (default 3600)\n"
    "  --token TEXT        the catalogue's Authorization token (default demo-token)\n"
    "  --version TEXT      the published client version (default 1.0.0)\n"
    "  --access-log FILE   append one line per request to FILE\n"
    "  --upgrade-key FILE  sign the upgrade program with the private key in FILE\n"
    "                      (PEM; made there when FILE does not exist; default:\n"
    "                      a new key for each start)\n"
    "  --upgrade-public-key FILE\n"
    "                      write the public key text (UpgradePublicKey) to FILE\n"
    "  --big-file-mib N    also serve /data/big.bin of N MiB\n"
    "  --extra-package ZIP also publish ZIP as book g1900 (bsid b1900)\n"
    "  --rate-mib N        send each package and big-file transfer at N MiB/s at most,\n"
    "                      evenly in 64 KiB pieces (default: no limit)\n"
    "POST /demo/publish/GID publishes a newer edition of a generated book.\n"
    "GET / lists the addresses and the demo users who can sign in at /api/login.\n"
    "faults:\n"
    "  --drop-after BYTES  end every package transfer after BYTES bytes\n"
    "  --slow-ms MS        wait MS before every answer and every package piece\n"
    "  --ignore-ranges     answer package requests whole, with 200\n"
    "  --wrong-digest      publish digests that do not match the packages\n"
    "  --status CODE       answer every request with status CODE\n";

namespace {

bool ParseInt(const char* text, int64_t& value) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  value = std::strtoll(text, &end, 10);
  return *end == '\0';
}

}  // namespace

bool ParseDemoOptions(int argc, char** argv, DemoOptions& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    int64_t number = 0;
    auto need_number = [&](int64_t low, int64_t high) {
      if (!ParseInt(value, number) || number < low || number > high) {
        error =
            name + " needs a number from " + std::to_string(low) + " to " + std::to_string(high);
        return false;
      }
      ++i;
      return true;
    };
    auto need_text = [&](std::string& out) {
      if (value == nullptr) {
        error = name + " needs a value";
        return false;
      }
      out = value;
      ++i;
      return true;
    };
    if (name == "--port") {
      if (!need_number(0, 65535)) return false;
      options.port = static_cast<int>(number);
    } else if (name == "--port-file") {
      if (!need_text(options.port_file)) return false;
    } else if (name == "--stop-after") {
      if (!need_number(1, 7 * 24 * 3600)) return false;
      options.stop_after_seconds = static_cast<int>(number);
    } else if (name == "--token") {
      if (!need_text(options.token)) return false;
    } else if (name == "--version") {
      if (!need_text(options.version)) return false;
    } else if (name == "--access-log") {
      if (!need_text(options.access_log)) return false;
    } else if (name == "--upgrade-key") {
      if (!need_text(options.upgrade_key)) return false;
    } else if (name == "--upgrade-public-key") {
      if (!need_text(options.upgrade_public_key)) return false;
    } else if (name == "--big-file-mib") {
      if (!need_number(0, 16384)) return false;
      options.big_file_mib = static_cast<int>(number);
    } else if (name == "--rate-mib") {
      if (!need_number(1, 65536)) return false;
      options.rate_mib = static_cast<int>(number);
    } else if (name == "--extra-package") {
      if (!need_text(options.extra_package)) return false;
    } else if (name == "--drop-after") {
      if (!need_number(0, INT64_MAX)) return false;
      options.drop_after = number;
    } else if (name == "--slow-ms") {
      if (!need_number(0, 60000)) return false;
      options.slow_ms = static_cast<int>(number);
    } else if (name == "--ignore-ranges") {
      options.ignore_ranges = true;
    } else if (name == "--wrong-digest") {
      options.wrong_digest = true;
    } else if (name == "--status") {
      if (!need_number(100, 599)) return false;
      options.status = static_cast<int>(number);
    } else {
      error = "unknown option " + name;
      return false;
    }
  }
  return true;
}
