// The background check that keeps the client itself current.
//
// It compares the version text published under each upgrade base address
// with system/version.dat of the program directory; on any difference it
// downloads the upgrade program to Upgrade.exe in the program directory and
// starts it with the single argument "/upgrade", without waiting. The
// upgrade program replaces the client's files, system/version.dat included.
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
  static constexpr const char kUpgradeArgument[] = "/upgrade";
  static constexpr const char kLaunchErrorLog[] = "upgrade launch error";

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
  bool IsRunning() const { return worker_.joinable(); }
  std::vector<std::string> Addresses() const;

  // One check: true when the client is current or the upgrade program was
  // started. Runs on the worker; callable directly as well.
  bool CheckOnce();

 private:
  void Run();
  std::string ProgramFile(const char* name) const;
  void DeleteLeftovers() const;

  Timing timing_;
  platform::Event stop_;
  platform::Event exit_;
  mutable std::mutex lock_;  // guards addresses_
  std::vector<std::string> addresses_;
  std::thread worker_;
};
