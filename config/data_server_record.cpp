#include "config/data_server_record.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>

#include "config/daily_log.h"
#include "platform/clock.h"
#include "util/number_text.h"
#include "util/string_split.h"

namespace {

// Servers come from the service's list; however long it is, the record
// stays small.
constexpr size_t kMostServers = 256;
// Servers named one by one in a log line; the rest are counted.
constexpr size_t kMostNamedInLog = 8;
// Speed factors in fixed point, so that a draw is exact and repeatable.
constexpr uint64_t kFactorUnit = 256;
// Each transfer counts as much as all the ones before it together.
constexpr double kNewSpeedShare = 0.5;

int64_t BackOffAfter(uint32_t failures_in_row) {
  int64_t back_off = kFirstBackOffMs;
  for (uint32_t i = 1; i < failures_in_row && back_off < kLongestBackOffMs; ++i) back_off *= 2;
  return std::min(back_off, kLongestBackOffMs);
}

int64_t SecondsLeft(int64_t until_ms, int64_t now_ms) {
  return (until_ms - now_ms + 999) / 1000;
}

// Server texts come from outside: no line breaks or other control bytes go
// into the log, and no text of any length.
std::string ForLog(const std::string& text) {
  constexpr size_t kMostBytes = 120;
  std::string safe = text.substr(0, kMostBytes);
  for (char& c : safe) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return safe;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

struct Candidate {
  std::string server;
  uint64_t weight = 0;
};

std::vector<Candidate> DataCandidates(const std::string& list) {
  std::vector<std::string> entries;
  (void)SplitString(entries, ";", list, true);
  std::vector<Candidate> candidates;
  for (const auto& entry : entries) {
    std::vector<std::string> fields;
    (void)SplitString(fields, "#", entry, false);
    if (fields.size() < 5 || fields[0] != "dat") continue;
    int32_t weight = ParseLeadingInt(fields[3]);
    if (weight <= 0) continue;
    candidates.push_back({fields[4], static_cast<uint64_t>(weight)});
  }
  return candidates;
}

// The speed factor in kFactorUnit, against the geometric mean of the
// measured speeds (so that twice as fast as the rest and half as fast count
// alike); a server not measured counts as average.
std::vector<uint64_t> SpeedFactors(const std::vector<DataServerState>& states,
                                   const std::vector<size_t>& healthy) {
  double log_sum = 0;
  size_t measured = 0;
  for (size_t i : healthy) {
    if (states[i].bytes_per_second <= 0) continue;
    log_sum += std::log(states[i].bytes_per_second);
    ++measured;
  }
  std::vector<uint64_t> factors(states.size(), kFactorUnit);
  if (measured == 0) return factors;
  const double reference = std::exp(log_sum / static_cast<double>(measured));
  for (size_t i : healthy) {
    if (states[i].bytes_per_second <= 0) continue;
    double factor = std::clamp(states[i].bytes_per_second / reference, kSlowestSpeedFactor,
                               kFastestSpeedFactor);
    factors[i] = static_cast<uint64_t>(std::lround(factor * static_cast<double>(kFactorUnit)));
  }
  return factors;
}

std::string SkippedText(const std::vector<Candidate>& candidates,
                        const std::vector<DataServerState>& states, int64_t now_ms, size_t chosen) {
  std::string text;
  size_t named = 0;
  size_t unnamed = 0;
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (i == chosen || states[i].back_off_until_ms <= now_ms) continue;
    if (named == kMostNamedInLog) {
      ++unnamed;
      continue;
    }
    text += (named == 0 ? "; skipped " : ", ") + ForLog(candidates[i].server) +
            Format(" (failed, %u in a row, back-off %lld s left)", states[i].failures_in_row,
                   static_cast<long long>(SecondsLeft(states[i].back_off_until_ms, now_ms)));
    ++named;
  }
  if (unnamed > 0) text += Format(" and %zu more", unnamed);
  return text;
}

}  // namespace

DataServerRecord& DataServerRecord::Instance() {
  static DataServerRecord record(platform::MonotonicMs);
  return record;
}

DataServerRecord::DataServerRecord(Clock clock) : clock_(std::move(clock)) {}

DataServerRecord::Entry& DataServerRecord::EntryFor(const std::string& server, int64_t now_ms) {
  auto it = entries_.find(server);
  if (it == entries_.end() && entries_.size() >= kMostServers) {
    auto oldest = std::min_element(entries_.begin(), entries_.end(), [](auto& a, auto& b) {
      return a.second.last_report_ms < b.second.last_report_ms;
    });
    entries_.erase(oldest);
  }
  Entry& entry = entries_[server];
  entry.last_report_ms = now_ms;
  return entry;
}

DataServerState DataServerRecord::ReportFailure(const std::string& server) {
  std::lock_guard<std::mutex> guard(lock_);
  const int64_t now = clock_();
  DataServerState& state = EntryFor(server, now).state;
  if (state.failures_in_row < std::numeric_limits<uint32_t>::max()) ++state.failures_in_row;
  state.back_off_until_ms = now + BackOffAfter(state.failures_in_row);
  return state;
}

DataServerState DataServerRecord::ReportSuccess(const std::string& server, uint64_t bytes,
                                                double seconds) {
  std::lock_guard<std::mutex> guard(lock_);
  DataServerState& state = EntryFor(server, clock_()).state;
  state.failures_in_row = 0;
  state.back_off_until_ms = 0;
  if (bytes >= kLeastMeasuredBytes && seconds > 0) {
    double speed = static_cast<double>(bytes) / seconds;
    if (std::isfinite(speed)) {
      state.bytes_per_second =
          state.bytes_per_second <= 0
              ? speed
              : state.bytes_per_second * (1 - kNewSpeedShare) + speed * kNewSpeedShare;
    }
  }
  return state;
}

std::vector<DataServerState> DataServerRecord::StatesOf(const std::vector<std::string>& servers,
                                                        int64_t& now_ms) const {
  std::vector<DataServerState> states;
  states.reserve(servers.size());
  std::lock_guard<std::mutex> guard(lock_);
  now_ms = clock_();
  for (const auto& server : servers) {
    auto it = entries_.find(server);
    states.push_back(it == entries_.end() ? DataServerState{} : it->second.state);
  }
  return states;
}

void DataServerRecord::SetClock(Clock clock) {
  std::lock_guard<std::mutex> guard(lock_);
  clock_ = std::move(clock);
}

void DataServerRecord::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  entries_.clear();
}

bool ChooseDataServer(const std::string& list, uint32_t random_number,
                      const DataServerRecord& record, DataServerChoice& choice) {
  const std::vector<Candidate> candidates = DataCandidates(list);
  if (candidates.empty()) return false;
  std::vector<std::string> servers;
  for (const auto& c : candidates) servers.push_back(c.server);
  int64_t now = 0;
  const std::vector<DataServerState> states = record.StatesOf(servers, now);

  std::vector<size_t> healthy;
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (states[i].back_off_until_ms <= now) healthy.push_back(i);
  }

  size_t chosen = 0;
  std::string why;
  if (healthy.empty()) {
    for (size_t i = 1; i < candidates.size(); ++i) {
      if (states[i].back_off_until_ms < states[chosen].back_off_until_ms) chosen = i;
    }
    why = Format("weight %llu, every server in back-off, this one's ends first",
                 static_cast<unsigned long long>(candidates[chosen].weight));
  } else {
    const std::vector<uint64_t> factors = SpeedFactors(states, healthy);
    std::vector<uint64_t> shares(candidates.size(), 0);
    uint64_t total = 0;
    for (size_t i : healthy) {
      // Weights below 2^31 and factors below 2^11: a share fits easily; only
      // an absurdly long list could overflow the sum, and its tail is left out.
      uint64_t share = candidates[i].weight * factors[i];
      if (total > std::numeric_limits<uint64_t>::max() - share) break;
      shares[i] = share;
      total += share;
    }
    // Scaled rather than taken modulo, so that every share of a large total
    // is reached in proportion.
    uint64_t pick =
        static_cast<uint64_t>((static_cast<unsigned __int128>(random_number) * total) >> 32);
    for (size_t i : healthy) {
      if (pick < shares[i]) {
        chosen = i;
        break;
      }
      pick -= shares[i];
    }
    const DataServerState& state = states[chosen];
    why = Format("weight %llu, ", static_cast<unsigned long long>(candidates[chosen].weight)) +
          (state.bytes_per_second > 0
               ? Format("%.1f MiB/s, speed factor %.2f", state.bytes_per_second / (1024 * 1024),
                        static_cast<double>(factors[chosen]) / kFactorUnit)
               : std::string("speed not measured yet"));
  }
  choice.server = candidates[chosen].server;
  choice.reasons = "dat server " + ForLog(choice.server) + " chosen (" + why + ")" +
                   SkippedText(candidates, states, now, chosen);
  return true;
}

size_t UrlServerStart(const std::string& url) {
  if (size_t p = url.find("///"); p != std::string::npos) return p + 3;
  if (size_t q = url.find("//"); q != std::string::npos) return q + 2;
  return 0;
}

std::string UrlServerText(const std::string& url) {
  size_t start = UrlServerStart(url);
  size_t end = url.find('/', start);
  return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void ReportDataServerOutcome(const std::string& url, bool ok, uint64_t bytes, double seconds) {
  const std::string server = UrlServerText(url);
  if (server.empty()) return;
  DataServerRecord& record = DataServerRecord::Instance();
  if (ok) {
    DataServerState state = record.ReportSuccess(server, bytes, seconds);
    WriteLogLine("dat server " + ForLog(server) +
                 Format(" delivered %llu bytes in %.1f s; average %.1f MiB/s",
                        static_cast<unsigned long long>(bytes), seconds,
                        state.bytes_per_second / (1024 * 1024)));
  } else {
    DataServerState state = record.ReportFailure(server);
    WriteLogLine("dat server " + ForLog(server) +
                 Format(" failed, %u in a row; left out for %lld s", state.failures_in_row,
                        static_cast<long long>(BackOffAfter(state.failures_in_row) / 1000)));
  }
}
