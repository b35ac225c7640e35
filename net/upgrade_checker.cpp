#include "net/upgrade_checker.h"

#include <cinttypes>
#include <cstdio>

#include "config/daily_log.h"
#include "net/request_helpers.h"
#include "net/transfer_limits.h"
#include "net/upgrade_signature.h"
#include "platform/clock.h"
#include "platform/file_mode.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "util/dotted_version.h"
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

// A text from outside as it may stand in the log: short, printable ASCII.
std::string Shown(const std::string& text) {
  constexpr size_t kMost = 40;
  std::string shown = "\"";
  for (size_t i = 0; i < text.size() && i < kMost; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    shown += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?';
  }
  return shown + (text.size() > kMost ? "...\"" : "\"");
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
  platform::RemoveFile(ProgramFile(kUpgradeSignature));
  platform::RemoveFile(ProgramFile(kDownloadedVersion));
}

void UpgradeChecker::SetPublicKey(const std::string& key_text) {
  std::lock_guard<std::mutex> hold(lock_);
  public_key_ = key_text;
}

std::string UpgradeChecker::PublicKey() const {
  std::lock_guard<std::mutex> hold(lock_);
  return public_key_;
}

void UpgradeChecker::Refuse(const std::string& reason) {
  if (reason == last_refusal_) return;
  last_refusal_ = reason;
  WriteLogLine(kRefusedLog + reason);
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
  const std::string signature = ProgramFile(kUpgradeSignature);
  const std::string downloaded = ProgramFile(kDownloadedVersion);
  if (!Delete(ProgramFile("upgrade.exe")) || !Delete(program) || !Delete(signature)) return false;
  if (!Delete(downloaded)) return false;

  const std::string key = TrimVersion(PublicKey());
  std::string raw_key;
  if (key.empty()) {
    Refuse(std::string("no ") + kPublicKeyParameter + " configured");
    return false;
  }
  if (!DecodeUpgradePublicKey(key, raw_key)) {
    Refuse(DescribeUpgradeSignatureCheck(UpgradeSignatureCheck::kBadPublicKey));
    return false;
  }

  std::string installed;
  if (!ReadTextFileAsAnsi(ProgramFile(kInstalledVersion), installed)) installed.clear();
  installed = TrimVersion(installed);
  // Without an installed version any well-formed published one is newer.
  std::vector<uint32_t> installed_numbers;
  if (!installed.empty() && !ParseDottedVersion(installed, installed_numbers)) {
    Refuse("installed version " + Shown(installed) + " is not dotted numbers");
    return false;
  }

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
    published = TrimVersion(published);
    std::vector<uint32_t> published_numbers;
    if (!ParseDottedVersion(published, published_numbers)) {
      Refuse("published version " + Shown(published) + " of " + base + " is not dotted numbers");
      continue;
    }
    // The same version means the client is current. An older one is refused
    // too: a replayed old release, signed in its day, must not downgrade it.
    if (!installed.empty() && CompareDottedVersions(published_numbers, installed_numbers) <= 0) {
      Refuse("published version " + published + " is not newer than the installed " +
             installed);
      return true;
    }
    if (FetchSigned(base, published, key)) {
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
  platform::RemoveFile(signature);
  if (!started.valid()) {
    WriteLogLine(kLaunchErrorLog);
    return false;
  }
  last_refusal_.clear();
  return true;
}

bool UpgradeChecker::FetchSigned(const std::string& base, const std::string& version,
                                 const std::string& key) {
  const std::string program = ProgramFile(kUpgradeProgram);
  const std::string signature = ProgramFile(kUpgradeSignature);
  // A stop ends either download under way; neither may grow without bound.
  if (HttpGetToFile(&stop_, true, nullptr, nullptr, program, nullptr,
                    StampedUrl(base, "upgrade.exe"), kMostUpgradeProgramBytes) != kHttpOk ||
      !platform::PathExists(program)) {
    platform::RemoveFile(program);
    return false;
  }
  auto refuse = [&](const std::string& reason) {
    platform::RemoveFile(program);
    platform::RemoveFile(signature);
    Refuse("version " + version + " of " + base + ": " + reason);
    return false;
  };
  if (HttpGetToFile(&stop_, true, nullptr, nullptr, signature, nullptr,
                    StampedUrl(base, "upgrade.sig"), kMostUpgradeSignatureBytes) != kHttpOk) {
    return refuse("no signature published (upgrade.sig)");
  }
  std::string signature_bytes;
  if (!ReadWholeFile(signature, signature_bytes)) signature_bytes.clear();  // empty: wrong size
  std::string digest;
  if (!Sha256OfFile(program, digest)) return refuse("cannot read the downloaded program");
  const UpgradeSignatureCheck check = VerifyUpgradeSignature(key, version, digest, signature_bytes);
  if (check != UpgradeSignatureCheck::kValid) return refuse(DescribeUpgradeSignatureCheck(check));
  return true;
}
