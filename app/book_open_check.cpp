#include "app/book_open_check.h"

namespace {

// Paths named in one log line at most; the counts say the rest.
constexpr size_t kLoggedPaths = 10;

void AppendPaths(std::string& line, const char* word, const std::vector<std::string>& paths,
                 size_t& budget) {
  for (const std::string& path : paths) {
    if (budget == 0) return;
    --budget;
    line += std::string(" ") + word + " " + PrintableName(path) + ";";
  }
}

}  // namespace

size_t DamagedFileCount(const InstalledBookCheck& check) {
  if (check.condition != BookCondition::kDamaged) return 0;
  return check.check.missing.size() + check.check.changed.size();
}

OpenDecision DecideBeforeOpening(const InstalledBookCheck& check) {
  return DamagedFileCount(check) > 0 ? OpenDecision::kOfferRepair : OpenDecision::kOpen;
}

std::string RepairQuestion(size_t damaged_files) {
  return "教材文件不完整（缺少或损坏 " + std::to_string(damaged_files) +
         " 个文件），是否重新下载修复？";
}

std::string OpenCheckLogLine(const std::string& book_id, const InstalledBookCheck& check) {
  if (check.condition == BookCondition::kIntact) return {};
  std::string line = "book check " + book_id + ": " + ConditionText(check.condition);
  if (check.condition != BookCondition::kDamaged) return line;
  const BookCheck& c = check.check;
  line += ", " + std::to_string(c.missing.size()) + " missing, " +
          std::to_string(c.changed.size()) + " changed, " + std::to_string(c.extra.size()) +
          " extra:";
  size_t budget = kLoggedPaths;
  AppendPaths(line, "missing", c.missing, budget);
  AppendPaths(line, "changed", c.changed, budget);
  AppendPaths(line, "extra", c.extra, budget);
  return line;
}
