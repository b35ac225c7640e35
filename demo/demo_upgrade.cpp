#include "demo/demo_upgrade.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "demo/demo_books.h"
#include "net/upgrade_signature.h"

namespace {

bool ReadText(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  text = all.str();
  return static_cast<bool>(in);
}

// Written to a new file that only its owner may read.
bool WritePrivateKey(const std::string& path, const std::string& pem) {
  {
    std::ofstream create(path, std::ios::binary | std::ios::trunc);
    if (!create) return false;
  }
  std::error_code failed;
  std::filesystem::permissions(
      path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, failed);
  if (failed) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << pem;
  return static_cast<bool>(out.flush());
}

// Without the blanks at its ends, as the client reads it.
std::string Trimmed(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

}  // namespace

bool PrepareDemoUpgrade(const std::string& version, const std::string& key_file,
                        const std::string& public_key_file, DemoUpgrade& upgrade,
                        std::string& error) {
  std::string pem;
  if (!key_file.empty() && std::filesystem::exists(key_file)) {
    if (!ReadText(key_file, pem) || !UpgradePublicKeyOf(pem, upgrade.public_key)) {
      error = key_file + " holds no Ed25519 private key (PEM)";
      return false;
    }
  } else {
    if (!GenerateUpgradeKey(pem, upgrade.public_key)) {
      error = "cannot make an upgrade key";
      return false;
    }
    if (!key_file.empty() && !WritePrivateKey(key_file, pem)) {
      error = "cannot write " + key_file;
      return false;
    }
  }
  upgrade.program = MakeUpgradeProgram(version);
  if (!SignUpgrade(pem, Trimmed(version), Sha256OfBytes(upgrade.program), upgrade.signature)) {
    error = "cannot sign the upgrade program";
    return false;
  }
  if (!public_key_file.empty()) {
    std::ofstream out(public_key_file, std::ios::binary | std::ios::trunc);
    out << upgrade.public_key << "\n";
    if (!out.flush()) {
      error = "cannot write " + public_key_file;
      return false;
    }
  }
  return true;
}
