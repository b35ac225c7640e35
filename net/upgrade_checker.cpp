#include "net/upgrade_checker.h"

#include <cinttypes>
#include <cstdio>

#include "config/daily_log.h"
#include "net/request_helpers.h"
#include "net/transfer_limits.h"
#include "platform/clock.h"
#include "platform/file_mode.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "util/file_io.h"
#include "util/path_names.h"
#include "util/string_split.h"
#include "util/text_encoding.h"

namespace {

std::string TrimVersion(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return {};
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

// Base address + "/" + name + "?" + the time in seconds, against caches.
std::string StampedUrl(const std::string& base, const char* name) {
  char stamp[16];
  std::snprintf(stamp, sizeof stamp, "%d", static_cast<int32_t>(platform::NowSeconds()));
  return base + "/" + name + "?" + stamp;
}

// Removes a file; true when it is gone afterwards.
bool Delete(const std::string& path) {
  platform::RemoveFile(path);
  return !platform::PathExists(path);
}

}  // namespace

UpgradeChecker::UpgradeChecker() : UpgradeChecker(Timing()) {}

UpgradeChecker::UpgradeChecker(const Timing& timing) : timing_(timing) {
  DeleteLeftovers();
}

UpgradeChecker::~UpgradeChecker() {
  Stop();
  DeleteLeftovers();
}

std::string UpgradeChecker::ProgramFile(const char* name) const {
  return JoinPath(GetProgramDirectory(), name);
}

void UpgradeChecker::DeleteLeftovers() const {
  // Both spellings: the names denote one file where names ignore case.
  platform::RemoveFile(ProgramFile("upgrade.exe"));
  platform::RemoveFile(ProgramFile(kUpgradeProgram));
  platform::RemoveFile(ProgramFile(kDownloadedVersion));
}

void UpgradeChecker::Start(const std::string& addresses) {
  Stop();
  SetAddresses(addresses);
  stop_.Reset();
  exit_.Reset();
  worker_ = std::thread([this] { Run(); });
}

void UpgradeChecker::SetAddresses(const std::string& addresses) {
  std::vector<std::string> parts;
  (void)SplitString(parts, ";", addresses, true);
  std::vector<std::string> bases;
  for (std::string& part : parts) {
    while (!part.empty() && part.back() == '/') part.pop_back();
    if (!part.empty()) bases.push_back(part);
  }
  std::lock_guard<std::mutex> hold(lock_);
  addresses_ = std::move(bases);
}

void UpgradeChecker::Stop() {
  if (!worker_.joinable()) return;
  stop_.Set();
  // The stop event cuts short the first delay and the waits between
  // addresses; the exit event the waits between checks.
  exit_.Wait(100);
  exit_.Set();
  worker_.join();
}

std::vector<std::string> UpgradeChecker::Addresses() const {
  std::lock_guard<std::mutex> hold(lock_);
  return addresses_;
}

void UpgradeChecker::Run() {
  stop_.Wait(timing_.initial_delay_ms);
  uint32_t interval = timing_.retry_interval_ms;
  while (!exit_.Wait(interval)) {
    if (CheckOnce()) interval = timing_.current_interval_ms;
  }
}

bool UpgradeChecker::CheckOnce() {
  const std::string program = ProgramFile(kUpgradeProgram);
  const std::string downloaded = ProgramFile(kDownloadedVersion);
  if (!Delete(ProgramFile("upgrade.exe")) || !Delete(program)) return false;
  if (!Delete(downloaded)) return false;

  std::string installed;
  if (!ReadTextFileAsAnsi(ProgramFile(kInstalledVersion), installed)) installed.clear();
  installed = TrimVersion(installed);

  bool fetched = false;
  for (const std::string& base : Addresses()) {
    if (stop_.Wait(timing_.address_wait_ms)) return false;
    // A stop ends a download under way too; a version text larger than
    // any version is refused.
    if (HttpGetToFile(&stop_, true, nullptr, nullptr, downloaded, nullptr,
                      StampedUrl(base, "version.dat"), kMostVersionTextBytes) != kHttpOk) {
      platform::RemoveFile(downloaded);
      continue;
    }
    std::string published;
    if (!ReadTextFileAsAnsi(downloaded, published)) published.clear();
    platform::RemoveFile(downloaded);
    if (TrimVersion(published) == installed) return true;

    if (HttpGetToFile(&stop_, true, nullptr, nullptr, program, nullptr,
                      StampedUrl(base, "upgrade.exe")) == kHttpOk &&
        platform::PathExists(program)) {
      fetched = true;
      break;
    }
  }
  platform::RemoveFile(downloaded);
  if (!fetched) return false;

  // Started like a double-click would: its own process, the program
  // directory as working directory, not waited for.
  platform::MakeExecutable(program);
  platform::ProcessHandle started =
      platform::StartProcess(program, {kUpgradeArgument}, GetProgramDirectory());
  if (!started.valid()) {
    WriteLogLine(kLaunchErrorLog);
    return false;
  }
  return true;
}
