#include "books/status_report.h"

#include "books/book_collection.h"
#include "books/book_results.h"
#include "util/json_escape.h"

namespace {

// Texts from the service or the page go into hand-built JSON; escaping
// keeps a quote or backslash in them from breaking the reply.
std::string Escaped(std::string text) {
  JsonEscapeString(text);
  return text;
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

std::string StatusRow(const std::string& bsid, const RecordPtr& record) {
  std::string percent = "0";
  std::string tip = "已下载:0%";
  std::string status = "未安装";
  if (record) {
    BookFields f = record->Fields();
    std::string p = std::to_string(RecordPercentage(f));
    uint32_t s = f.bookStatus;
    if (s & kBookDownloaded) {
      percent = "99";
      tip = "正在安装...";
    } else if ((s & kBookDownloading) && (s & kBookInstalled)) {
      percent = p;
      tip = "正在升级" + p + "%";
    } else if (s & kBookDownloading) {
      percent = p;
      tip = "正在下载:" + p + "%";
    } else if (s & kBookInstalled) {
      percent = "100";
      tip.clear();
    } else {
      percent = p;
      tip = "未安装";
    }
    if (s & kBookDownloading)
      status = "下载中";
    else if (s & kBookInstalled)
      status = IsUpgradeAvailable(*record) ? "可升级" : "已安装";
    else
      status = "未安装";
  }
  return Quoted(Escaped(bsid)) + "," + Quoted(percent) + "," + Quoted(tip) + "," + Quoted(status);
}

std::string StatusObject(const std::string& operation, const std::string& bsid,
                         const std::string& gid, const RecordPtr& record) {
  uint32_t status = 0;
  std::string new_version = "0";
  std::string desc;
  if (record) {
    BookFields f = record->Fields();
    status = f.bookStatus;
    new_version = IsUpgradeAvailable(*record) ? "1" : "0";
    if (status & kBookDownloading) desc = std::to_string(RecordPercentage(f));
  }
  return "{\"Type\":" + Quoted(Escaped(operation)) + ",\"bsid\":" + Quoted(Escaped(bsid)) +
         ",\"bookID\":" + Quoted(Escaped(gid)) +
         ",\"bookStatus\":" + Quoted(std::to_string(status)) +
         ",\"newVersion\":" + Quoted(new_version) + ",\"Desc\":" + Quoted(desc) + "}";
}

}  // namespace

int64_t RecordPercentage(const BookFields& fields) {
  if (fields.downloading_bookSize == 0) return 0;
  double percent = static_cast<double>(fields.downloading_downloadedSize) * 100.0 /
                   static_cast<double>(fields.downloading_bookSize);
  return static_cast<int64_t>(percent);
}

std::string BuildStatusReport(const BookCollection& collection) {
  BsidGidPairs pairs = collection.catalogue().Pairs();
  std::string rows;
  for (const auto& [bsid, gid] : pairs) {
    if (!rows.empty()) rows += ",";
    rows += StatusRow(bsid, collection.FindRecord(gid));
  }
  UserInfo user = collection.User();
  return "{\r\n\"Function\": \"Request\",\r\n\"UID\": \"" + Escaped(user.uid) +
         "\",\r\n\"SessionID\": \"" + Escaped(user.sessionid) +
         "\",\r\n\"ID\": \"\",\r\n\"Status\": \"1\",\r\n\"Return\": \"0\",\r\n\"Message\":\"\","
         "\"Para\":{\"Rows\":\"" +
         std::to_string(pairs.size()) +
         "\",\"Columns\":\"4\",\"ColumnName\":[\"bsid\",\"percent\",\"tip\",\"status\"],"
         "\"Data\":[" +
         rows + "]}}";
}

int BuildBookStatusArray(const BookCollection& collection, const std::string& bsid,
                         const std::string& operation, std::string& text) {
  BsidGidPairs pairs;
  if (!bsid.empty()) {
    std::string gid;
    if (!collection.catalogue().GidForBsid(bsid, gid)) return kBookRefused;
    pairs.emplace_back(bsid, gid);
  } else {
    pairs = collection.catalogue().Pairs();
  }
  text = "[";
  for (size_t i = 0; i < pairs.size(); ++i) {
    if (i > 0) text += ",";
    text += StatusObject(operation, pairs[i].first, pairs[i].second,
                         collection.FindRecord(pairs[i].second));
  }
  text += "]";
  return kBookOk;
}
