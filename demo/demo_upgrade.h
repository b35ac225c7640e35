// The demo service's upgrade: the program it hands out, signed as a
// publisher signs it, and the key pair that signs it.
#pragma once

#include <string>

struct DemoUpgrade {
  std::string program;     // upgrade.exe
  std::string signature;   // upgrade.sig, over the version text and the program
  std::string public_key;  // the text a client configures as UpgradePublicKey
};

// Makes and signs the upgrade program of version. The private key comes from
// key_file (PKCS#8 PEM); a file that does not exist gets a new key, so a
// demo keeps its key from one start to the next. Without key_file a new key
// is made for this run only. With public_key_file the public key text is
// written there. False, with a message in error, on failure.
bool PrepareDemoUpgrade(const std::string& version, const std::string& key_file,
                        const std::string& public_key_file, DemoUpgrade& upgrade,
                        std::string& error);
