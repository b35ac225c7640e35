// How each data ("dat") server has done lately, and the choice of a data
// server that learns from it.
//
// A server whose transfer failed is left out of the choice for a back-off
// that starts at kFirstBackOffMs and doubles with each further failure in a
// row, up to kLongestBackOffMs; a success ends it. Among the servers not in
// back-off the service's weights stay the base of the draw, scaled by how
// fast each server delivered compared with the others (never below
// kSlowestSpeedFactor or above kFastestSpeedFactor, so no server starves and
// none takes every download). A server not measured yet keeps its plain
// weight, so that new servers get tried.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

inline constexpr int64_t kFirstBackOffMs = 30 * 1000;
inline constexpr int64_t kLongestBackOffMs = 30 * 60 * 1000;
inline constexpr double kSlowestSpeedFactor = 0.25;
inline constexpr double kFastestSpeedFactor = 4.0;
// Smaller transfers say more about latency than about speed; they end a
// back-off but leave the measured speed alone.
inline constexpr uint64_t kLeastMeasuredBytes = 256 * 1024;

struct DataServerState {
  uint32_t failures_in_row = 0;
  // On the record's clock; the server is in back-off while now is before it.
  int64_t back_off_until_ms = 0;
  // Moving average over the last successful transfers; 0 when not measured.
  double bytes_per_second = 0;
};

class DataServerRecord {
 public:
  // Milliseconds on a monotonic clock.
  using Clock = std::function<int64_t()>;

  // The process-wide record, on the platform's monotonic clock.
  static DataServerRecord& Instance();

  explicit DataServerRecord(Clock clock);
  DataServerRecord(const DataServerRecord&) = delete;
  DataServerRecord& operator=(const DataServerRecord&) = delete;

  // A failed transfer: the back-off starts (or doubles) from now. Failures
  // of transfers that ran side by side count one after the other.
  DataServerState ReportFailure(const std::string& server);
  // A completed transfer of bytes in seconds: the back-off ends and, for a
  // transfer long enough to tell, the speed joins the average.
  DataServerState ReportSuccess(const std::string& server, uint64_t bytes, double seconds);

  // The states of servers (default for one never reported) and the time
  // they were read at, in one step.
  std::vector<DataServerState> StatesOf(const std::vector<std::string>& servers,
                                        int64_t& now_ms) const;

  // For tests: another clock, and a record that forgets everything.
  void SetClock(Clock clock);
  void Clear();

 private:
  struct Entry {
    DataServerState state;
    int64_t last_report_ms = 0;
  };
  Entry& EntryFor(const std::string& server, int64_t now_ms);

  mutable std::mutex lock_;
  Clock clock_;
  std::map<std::string, Entry> entries_;
};

struct DataServerChoice {
  std::string server;
  // Why this one and not the others, as one line for the daily log.
  std::string reasons;
};

// The draw among the "dat" entries of a server list (the "serverlist"
// format) for a random number uniform over 32 bits, given what record knows.
// Entries of weight 0 or less are never chosen. When every server is in
// back-off, the one whose back-off ends first (the earlier in the list on a
// tie) is chosen regardless of the number, so a transfer always has a server.
// False when the list has no "dat" entry of positive weight.
[[nodiscard]] bool ChooseDataServer(const std::string& list, uint32_t random_number,
                                    const DataServerRecord& record, DataServerChoice& choice);

// Where ReplaceUrlHost puts the server into a URL: just after the first
// "///", else after the first "//", else at the start.
size_t UrlServerStart(const std::string& url);

// The server text of a URL as ReplaceUrlHost made it: from UrlServerStart to
// the next "/" or the end.
std::string UrlServerText(const std::string& url);

// What a transfer from a URL that ReplaceUrlHost completed came to, reported
// after every attempt that ended (not after one the user stopped): ok with
// the bytes received and the seconds it took, or a failure. Goes to the
// process-wide record and the daily log.
void ReportDataServerOutcome(const std::string& url, bool ok, uint64_t bytes, double seconds);
