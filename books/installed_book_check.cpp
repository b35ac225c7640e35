#include "books/installed_book_check.h"

#include <algorithm>

#include "books/book_collection.h"
#include "config/program_paths.h"

namespace {

// The hand-over file below the install directory, relative to it; empty
// when the book has no reader of its own.
std::string HandoverFileBelow(const BookRecord& record, const std::string& install_dir) {
  std::string reader = ReaderPathOf(record);
  if (reader.empty()) return {};
  std::string handover = GetSiblingIniPath(reader);
  std::string prefix = install_dir + "/";
  if (handover.compare(0, prefix.size(), prefix) != 0) return {};
  return handover.substr(prefix.size());
}

}  // namespace

InstalledBookCheck CheckRecordedBook(const BookRecord& record, CheckDepth depth) {
  InstalledBookCheck result;
  BookFields fields = record.Fields();
  result.install_dir = InstallDirectoryOf(record);
  if (!(fields.bookStatus & kBookInstalled)) return result;

  std::string package_id;
  std::vector<ManifestEntry> entries;
  if (!ReadBookManifest(ManifestPathFor(result.install_dir), package_id, entries)) {
    result.condition = BookCondition::kNoManifest;
    return result;
  }
  if (package_id != fields.bookPackageID) {
    result.condition = BookCondition::kOtherPackage;
    return result;
  }
  result.check = CheckBookAgainst(result.install_dir, entries, depth);
  std::string handover = HandoverFileBelow(record, result.install_dir);
  auto& extra = result.check.extra;
  extra.erase(std::remove(extra.begin(), extra.end(), handover), extra.end());
  result.condition = result.check.Intact() ? BookCondition::kIntact : BookCondition::kDamaged;
  return result;
}

const char* ConditionText(BookCondition condition) {
  switch (condition) {
    case BookCondition::kIntact:
      return "intact";
    case BookCondition::kDamaged:
      return "damaged";
    case BookCondition::kNoManifest:
      return "no manifest";
    case BookCondition::kOtherPackage:
      return "manifest of another package";
    case BookCondition::kNotInstalled:
      return "not installed";
  }
  return "";
}
