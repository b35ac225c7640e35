// The catalogue reply as a dataset: the nine columns the collection keeps,
// taken from a flat Data list in whatever order and number of columns the
// service sends.
#include <cJSON.h>
#include <strings.h>

#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "books/book_results.h"
#include "books/catalogue.h"
#include "books/catalogue_sync.h"
#include "util/json_tree.h"

namespace {

// The reply's names of the columns, in row order; the spelling of
// "insallPara" is the service's.
constexpr const char* kRequiredColumns[kCatalogueColumns] = {
    "bsid",       "gid",     "fullName", "baseImage", "insallPara",
    "launchPara", "bookMD5", "bookPath", "bookReader"};

constexpr int64_t kMaxCount = std::numeric_limits<int32_t>::max();

// A count given as decimal text (leading blanks, a sign, digits; the rest
// ignored, as the service pads it with blanks) or as a JSON number. False
// when absent, or outside 1..2^31-1: such a count cannot describe the data
// that came with it.
bool ReadCount(const cJSON* para, const char* name, int64_t& count) {
  const cJSON* item = cJSON_GetObjectItem(para, name);
  if (cJSON_IsNumber(item)) {
    if (!(item->valuedouble >= 1 && item->valuedouble <= static_cast<double>(kMaxCount))) {
      return false;
    }
    count = static_cast<int64_t>(item->valuedouble);
    return true;
  }
  if (!cJSON_IsString(item)) return false;
  const char* p = item->valuestring;
  while (*p == ' ' || *p == '\t') ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > kMaxCount) return false;
  }
  if (negative || value < 1) return false;
  count = value;
  return true;
}

// The position of the first name equal to column (without case), or -1.
int64_t ColumnPosition(const cJSON* names, const char* column) {
  int64_t position = 0;
  for (const cJSON* name = names->child; name != nullptr; name = name->next, ++position) {
    if (cJSON_IsString(name) && strcasecmp(name->valuestring, column) == 0) return position;
  }
  return -1;
}

int ParseDataset(const std::string& uid, const std::string& text, std::vector<std::string>& rows) {
  JsonPtr json = ParseJson(text);
  if (!json) return kCatalogueMissingPart;
  const char* reply_uid = JsonStringMember(json.get(), "UID");
  if (reply_uid == nullptr || uid != reply_uid) return kCatalogueMissingPart;
  const cJSON* para = cJSON_GetObjectItem(json.get(), "Para");
  if (!cJSON_IsObject(para)) return kCatalogueMissingPart;
  int64_t row_count = 0;
  int64_t column_count = 0;
  if (!ReadCount(para, "Rows", row_count) || !ReadCount(para, "Columns", column_count)) {
    return kCatalogueMissingPart;
  }
  const cJSON* names = cJSON_GetObjectItem(para, "ColumnName");
  if (!cJSON_IsArray(names)) return kCatalogueMissingPart;

  int64_t positions[kCatalogueColumns];
  for (size_t j = 0; j < kCatalogueColumns; ++j) {
    positions[j] = ColumnPosition(names, kRequiredColumns[j]);
    // A column beyond the row width would read the next row's texts.
    if (positions[j] < 0 || positions[j] >= column_count) return kCatalogueMissingPart;
  }

  const cJSON* data = cJSON_GetObjectItem(para, "Data");
  if (!cJSON_IsArray(data)) return kCatalogueMissingPart;
  // Indexing the list once, so that large catalogues do not walk it per
  // cell.
  std::vector<const cJSON*> cells;
  for (const cJSON* cell = data->child; cell != nullptr; cell = cell->next) cells.push_back(cell);
  // Both counts are below 2^31, so the last position fits in 64 bits.
  if (static_cast<uint64_t>(row_count - 1) * static_cast<uint64_t>(column_count) >= cells.size()) {
    return kCatalogueMissingPart;
  }

  std::vector<std::string> parsed;
  parsed.reserve(static_cast<size_t>(row_count) * kCatalogueColumns);
  for (int64_t i = 0; i < row_count; ++i) {
    for (size_t j = 0; j < kCatalogueColumns; ++j) {
      uint64_t at = static_cast<uint64_t>(positions[j]) +
                    static_cast<uint64_t>(i) * static_cast<uint64_t>(column_count);
      if (at >= cells.size() || !cJSON_IsString(cells[at])) return kCatalogueMissingPart;
      parsed.emplace_back(cells[at]->valuestring);
    }
  }
  rows.insert(rows.end(), parsed.begin(), parsed.end());
  return kBookOk;
}

}  // namespace

int ParseCatalogueDataset(const std::string& uid, const std::string& text,
                          std::vector<std::string>& rows) {
  try {
    return ParseDataset(uid, text, rows);
  } catch (const std::bad_alloc&) {
    return kBookRefused;
  } catch (const std::length_error&) {
    return kBookRefused;
  }
}
