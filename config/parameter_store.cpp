#include "config/parameter_store.h"

#include <strings.h>

#include <vector>

#include "config/daily_log.h"
#include "config/data_server_record.h"
#include "config/program_paths.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/ini_file.h"
#include "util/file_io.h"
#include "util/number_text.h"
#include "util/string_split.h"

namespace {

constexpr const char kIniPrefix[] = "_INI_";
constexpr size_t kIniPrefixLength = 5;
constexpr const char kGlobalSection[] = "_GlobalPara_";

bool HasIniPrefix(const std::string& name) {
  return name.size() >= kIniPrefixLength &&
         strncasecmp(name.c_str(), kIniPrefix, kIniPrefixLength) == 0;
}

bool IsServiceAddressName(const std::string& name) {
  static const char* const kNames[] = {"wwwhome",     "wwwhome_core",      "wwwhome_data",
                                       "wwwhome_app", "wwwhome_data_core", "wwwhome_app_core",
                                       "UpgradeURL",  "url_getTomeRack"};
  for (const char* n : kNames) {
    if (name == n) return true;
  }
  return false;
}

void ReplaceEvery(std::string& text, const std::string& from, const std::string& to) {
  for (size_t pos = text.find(from); pos != std::string::npos;
       pos = text.find(from, pos + to.size())) {
    text.replace(pos, from.size(), to);
  }
}

}  // namespace

ParameterStore& ParameterStore::Instance() {
  static ParameterStore store;
  return store;
}

std::string ParameterStore::Get(const std::string& name) const {
  std::string key = platform::GbkToUpper(name);
  std::lock_guard<std::mutex> guard(lock_);
  auto it = values_.find(key);
  return it == values_.end() ? std::string() : it->second;
}

void ParameterStore::Set(const std::string& name, const std::string& value) {
  std::string key = platform::GbkToUpper(name);
  std::lock_guard<std::mutex> guard(lock_);
  values_[key] = value;
}

ParameterMap ParameterStore::Snapshot() const {
  std::lock_guard<std::mutex> guard(lock_);
  return values_;
}

void ParameterStore::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  values_.clear();
}

std::string GetParameter(const std::string& name) {
  if (HasIniPrefix(name)) {
    std::string key = platform::GbkToUpper(name.substr(kIniPrefixLength));
    std::string value =
        platform::GetPrivateProfileString(kGlobalSection, key, "", GetInstanceIniPath(), 1024);
    if (!value.empty()) return value;
  }
  std::string value = ParameterStore::Instance().Get(name);
  if (IsServiceAddressName(name)) {
    static const struct {
      const char* placeholder;
      const char* kind;
    } kPlaceholders[] = {{"$SERVER$", "app"}, {"$SERVER_CORE$", "cor"}, {"$SERVER_DATA$", "dat"}};
    for (const auto& p : kPlaceholders) {
      if (value.find(p.placeholder) == std::string::npos) continue;
      std::string server;
      if (SelectServer(p.kind, server)) ReplaceEvery(value, p.placeholder, server);
    }
  }
  return value;
}

void SetParameter(const std::string& name, const std::string& value) {
  if (HasIniPrefix(name)) {
    // The INI file is created on first write, its directory is not.
    const std::string ini = GetInstanceIniPath();
    CreateParentDirectories(ini);
    platform::WritePrivateProfileString(kGlobalSection, name.substr(kIniPrefixLength), value, ini);
    return;
  }
  ParameterStore::Instance().Set(name, value);
}

void CopyAllParameters(ParameterMap& copy) {
  copy = ParameterStore::Instance().Snapshot();
}

bool SelectServer(const std::string& kind, std::string& server) {
  std::string list = GetParameter("serverlist");
  if (list.empty()) return false;
  int number = platform::SeedAndDraw(static_cast<uint32_t>(platform::NowSeconds()), 1)[0];
  return ChooseServer(list, kind, static_cast<uint32_t>(number), server);
}

bool ChooseServer(const std::string& list, const std::string& kind, uint32_t random_number,
                  std::string& server) {
  std::vector<std::string> entries;
  (void)SplitString(entries, ";", list, true);
  // Each server stands in the draw as many times as its weight. The draw is
  // made over the summed weights instead of a list of copies, so a huge weight
  // from the service cannot exhaust memory.
  struct Candidate {
    std::string server;
    uint64_t weight;
  };
  std::vector<Candidate> candidates;
  uint64_t total = 0;
  for (const auto& entry : entries) {
    std::vector<std::string> fields;
    (void)SplitString(fields, "#", entry, false);
    if (fields.size() < 5 || fields[0] != kind) continue;
    int32_t weight = ParseLeadingInt(fields[3]);
    if (weight <= 0) continue;
    candidates.push_back({fields[4], static_cast<uint64_t>(weight)});
    total += static_cast<uint64_t>(weight);
  }
  if (total == 0) return false;
  uint64_t pick = random_number % total;
  for (const auto& c : candidates) {
    if (pick < c.weight) {
      server = c.server;
      return true;
    }
    pick -= c.weight;
  }
  return false;
}

bool ReplaceUrlHost(std::string& url) {
  std::string list = GetParameter("serverlist");
  DataServerChoice choice;
  if (list.empty() ||
      !ChooseDataServer(list, platform::RandomUint32(), DataServerRecord::Instance(), choice))
    return false;
  WriteLogLine(choice.reasons);
  size_t prefix_end = UrlServerStart(url);
  std::string result = url.substr(0, prefix_end) + choice.server;
  size_t slash = url.find('/', prefix_end);
  if (slash != std::string::npos && slash != 0) result += url.substr(slash);
  url = result;
  return true;
}
