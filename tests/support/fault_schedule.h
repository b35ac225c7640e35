// The fault points an operation passes, as TOMERACK_COUNT_POINTS lists them,
// sorted into the phases of the book work, and a schedule that spreads kill
// points and full-disk byte counts over every phase.
#pragma once

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace testing_support {

struct FaultPointLine {
  size_t index = 0;
  std::string kind;
  size_t bytes = 0;
  std::string path;
};

inline std::vector<FaultPointLine> ParseFaultPoints(const std::string& text) {
  std::vector<FaultPointLine> points;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    FaultPointLine point;
    if (!(fields >> point.index >> point.kind >> point.bytes)) continue;
    fields.get();
    std::getline(fields, point.path);
    points.push_back(point);
  }
  return points;
}

// The phase of the book work a point belongs to. install_dir is the
// book's install directory; a removal there is the uninstall in an
// uninstall and the clearing of the old content in an installation.
inline std::string PhaseOf(const FaultPointLine& p, const std::string& install_dir,
                           bool uninstalling) {
  const std::string& path = p.path;
  auto has = [&](const char* part) { return path.find(part) != std::string::npos; };
  if (p.kind == "transfer") return "transfer";
  if (p.kind == "digest") return "verification";
  if (has("Config.EF")) return "config save";
  if (has("/data/bookinf/")) {
    return uninstalling && p.kind == "remove" ? "uninstall" : "record save";
  }
  auto below = [&](const std::string& dir) { return path.rfind(dir + "/", 0) == 0 || path == dir; };
  if (uninstalling && (below(install_dir) || below(install_dir + ".staging") ||
                       below(install_dir + ".old")))
    return "uninstall";
  if (path.rfind(install_dir, 0) == 0 && has(".manifest")) return "manifest";
  // The renames that put a new edition in place, and the old edition's removal.
  if ((p.kind == "rename" && (path == install_dir || path == install_dir + ".old")) ||
      below(install_dir + ".old"))
    return "swap";
  if (below(install_dir) || below(install_dir + ".staging")) return "extraction";
  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".zip") == 0) {
    return uninstalling || p.kind == "remove" ? (uninstalling ? "uninstall" : "package removal")
                                              : "transfer";
  }
  if (has("/log/")) return "log";
  return "other";
}

// Up to per_phase points of each phase, evenly spread over it, first and
// last included.
inline std::vector<size_t> SpreadKillPoints(const std::vector<FaultPointLine>& points,
                                            const std::string& install_dir, bool uninstalling,
                                            size_t per_phase) {
  std::map<std::string, std::vector<size_t>> by_phase;
  for (const auto& p : points) by_phase[PhaseOf(p, install_dir, uninstalling)].push_back(p.index);
  std::set<size_t> chosen;
  for (const auto& [phase, indices] : by_phase) {
    size_t n = indices.size();
    size_t take = std::min(per_phase, n);
    for (size_t i = 0; i < take; ++i) {
      size_t at = take == 1 ? 0 : i * (n - 1) / (take - 1);
      chosen.insert(indices[at]);
    }
  }
  return {chosen.begin(), chosen.end()};
}

// Byte counts after which the disk is full: none at all, then the middle
// of the first write of every phase and the middle of all its bytes.
inline std::vector<size_t> SpreadFullDiskBytes(const std::vector<FaultPointLine>& points,
                                               const std::string& install_dir,
                                               bool uninstalling, size_t most) {
  std::map<std::string, std::pair<size_t, size_t>> span;  // phase -> first, last byte
  size_t total = 0;
  for (const auto& p : points) {
    if (p.kind != "write" || p.bytes == 0) continue;
    auto phase = PhaseOf(p, install_dir, uninstalling);
    if (!span.count(phase)) span[phase] = {total, total};
    total += p.bytes;
    span[phase].second = total;
  }
  std::set<size_t> chosen = {0};
  for (const auto& [phase, range] : span) {
    if (phase == "log") continue;
    chosen.insert(range.first + 1);
    chosen.insert(range.first + (range.second - range.first) / 2);
  }
  std::vector<size_t> all(chosen.begin(), chosen.end());
  if (all.size() > most) {
    std::vector<size_t> fewer;
    for (size_t i = 0; i < most; ++i) fewer.push_back(all[i * (all.size() - 1) / (most - 1)]);
    all = fewer;
  }
  return all;
}

// Cases run and cases that lost something, per operation and phase.
class FaultMatrix {
 public:
  void Add(const std::string& operation, const std::string& phase, bool lost) {
    Cell& cell = cells_[{operation, phase}];
    ++cell.cases;
    if (lost) ++cell.losses;
  }
  size_t Losses() const {
    size_t n = 0;
    for (const auto& [key, cell] : cells_) n += cell.losses;
    return n;
  }
  size_t Cases(const std::string& fault_prefix = {}) const {
    size_t n = 0;
    for (const auto& [key, cell] : cells_)
      if (key.first.rfind(fault_prefix, 0) == 0) n += cell.cases;
    return n;
  }
  std::string Print() const {
    std::string out = "operation                phase             cases  losses\n";
    char line[160];
    for (const auto& [key, cell] : cells_) {
      std::snprintf(line, sizeof line, "%-24s %-17s %5zu  %6zu\n", key.first.c_str(),
                    key.second.c_str(), cell.cases, cell.losses);
      out += line;
    }
    std::snprintf(line, sizeof line, "%-24s %-17s %5zu  %6zu\n", "all", "", Cases(), Losses());
    return out + line;
  }

 private:
  struct Cell {
    size_t cases = 0;
    size_t losses = 0;
  };
  std::map<std::pair<std::string, std::string>, Cell> cells_;
};

}  // namespace testing_support
