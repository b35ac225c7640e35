// The background check that keeps the client itself current.
//
// It compares the version text published under each upgrade base address
// with system/version.dat of the program directory; when the published one is
// newer (dotted numbers, compared number by number) it downloads the upgrade
// program to Upgrade.exe and its signature to Upgrade.sig in the program
// directory, checks the signature against the configured public key (see
// net/upgrade_signature.h) and only then makes the program executable and
// starts it with the single argument "/upgrade", without waiting. The upgrade
// program replaces the client's files, system/version.dat included.
//
// Whatever the network delivers is refused unless it is signed: without a
// key, with a malformed version text, or with a missing or wrong signature
// nothing is started and the daily log says why.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"

class UpgradeChecker {
 public:
  struct Timing {
    uint32_t initial_delay_ms = 20000;       // before the first wait
    uint32_t retry_interval_ms = 10000;      // between checks until one succeeds
    uint32_t current_interval_ms = 3600000;  // between checks after that
    uint32_t address_wait_ms = 1000;         // before each base address
  };

  static constexpr const char kInstalledVersion[] = "system/version.dat";
  static constexpr const char kDownloadedVersion[] = "version.dat";
  static constexpr const char kUpgradeProgram[] = "Upgrade.exe";
  static constexpr const char kUpgradeSignature[] = "Upgrade.sig";
  static constexpr const char kUpgradeArgument[] = "/upgrade";
  static constexpr const char kLaunchErrorLog[] = "upgrade launch error";
  // Every refusal's log line begins with this.
  static constexpr const char kRefusedLog[] = "upgrade refused: ";
  // The Config.EF parameter that holds the publisher's public key.
  static constexpr const char kPublicKeyParameter[] = "UpgradePublicKey";

  // Deletes leftovers of an earlier run from the program directory.
  UpgradeChecker();
  explicit UpgradeChecker(const Timing& timing);
  ~UpgradeChecker();
  UpgradeChecker(const UpgradeChecker&) = delete;
  UpgradeChecker& operator=(const UpgradeChecker&) = delete;

  // addresses: base addresses separated by ";" (empty parts skipped,
  // trailing "/" removed). A running worker is stopped first.
  void Start(const std::string& addresses);
  // Asks the worker to end and waits for it.
  void Stop();
  // Replaces the base addresses without starting anything (same splitting
  // as Start); for checks run with CheckOnce.
  void SetAddresses(const std::string& addresses);
  // The publisher's public key text (Base64 of 32 bytes); empty: none, and
  // nothing is ever started. The owner takes it from the sealed configuration
  // before any page runs, so that a page cannot swap it later.
  void SetPublicKey(const std::string& key_text);
  bool IsRunning() const { return worker_.joinable(); }
  std::vector<std::string> Addresses() const;

  // One check: true when the client is current or the upgrade program was
  // started. Runs on the worker; callable directly as well.
  bool CheckOnce();

 private:
  void Run();
  std::string ProgramFile(const char* name) const;
  void DeleteLeftovers() const;
  std::string PublicKey() const;
  // Logs "upgrade refused: <reason>", unless the last refusal of this
  // checker was the same, so that a retry every few seconds logs once.
  void Refuse(const std::string& reason);
  // Fetches the program and its signature from one base and checks them;
  // false, the files deleted and the reason logged, when they do not pass.
  [[nodiscard]] bool FetchSigned(const std::string& base, const std::string& version,
                                 const std::string& key);

  Timing timing_;
  platform::Event stop_;
  platform::Event exit_;
  mutable std::mutex lock_;  // guards addresses_ and public_key_
  std::vector<std::string> addresses_;
  std::string public_key_;
  std::string last_refusal_;  // only the thread running CheckOnce uses it
  std::thread worker_;
};
