#include "data/database_file_json.h"

#include <vector>

#include "data/database_codes.h"
#include "data/database_file_type.h"
#include "data/sql_database_odbc.h"
#include "data/text_format.h"
#include "data/wiped_text.h"
#include "util/json_escape.h"

namespace {

std::string Escaped(std::string text) {
  JsonEscapeString(text);
  return text;
}

std::string FailureText(const std::string& escaped_path, int32_t code, const std::string& error) {
  return FormatText(
      "{\"FileName\":\"%s\",\"DBName\":\"%s\"\r\n,\"Error\":\"%d\",\"ErrorString\":\"%s\"\r\n}",
      escaped_path.c_str(), escaped_path.c_str(), static_cast<int>(code), Escaped(error).c_str());
}

// A table entry of the success text, the table data still to follow.
std::string EntryStart(const std::string& table) {
  return FormatText("\t{\t\"TableName\":\"%s\",\t\t\"TableData\":", Escaped(table).c_str());
}

constexpr char kEmptyTableData[] = "\"\"";

}  // namespace

int32_t ReadDatabaseFile(const std::string& path, bool names_only, const std::string& statement,
                         std::string& json, std::string* error) {
  const std::string escaped_path = Escaped(path);
  std::string error_text;
  auto fail = [&](int32_t code) {
    json = FailureText(escaped_path, code, error_text);
    if (error != nullptr) *error = error_text;
    return code;
  };

  CSQLDatabase_ODBC database;
  {
    std::string connect;
    WipedOnExit wipe(connect);
    int32_t code = BuildConnectString(connect, path, &error_text);
    if (code != kDbOk) return fail(code);
    code = database.Open(connect, &error_text);
    if (code != kDbOk) return fail(code);
  }

  std::vector<std::string> tables;
  if (statement.empty()) {
    int32_t code = database.ListTables(tables, &error_text);
    if (code != kDbOk) return fail(code);
  } else {
    tables.emplace_back();
  }

  // Built in place: a dataset text may be large, and is copied only once.
  std::string text = FormatText("{\"FileName\":\"%s\",\"DBName\":\"%s\",\"DBData\":[",
                                escaped_path.c_str(), escaped_path.c_str());
  for (size_t i = 0; i < tables.size(); ++i) {
    if (i > 0) text += ',';
    text += EntryStart(tables[i]);
    if (names_only && statement.empty()) {
      text += kEmptyTableData;
    } else {
      std::string query =
          statement.empty() ? FormatText("select * from [%s]", tables[i].c_str()) : statement;
      DatasetText dataset;
      int32_t code = database.GetDataset(query, &dataset, &error_text);
      if (code != kDbOk) return fail(code);
      // A statement that is not a query gives no dataset text.
      text += dataset.length == 0 ? std::string_view(kEmptyTableData) : dataset.view();
    }
    text += '}';
  }
  text += "\r\n],\"Error\":\"0\",\"ErrorString\":\"\"\r\n}";
  json.swap(text);
  if (error != nullptr) error->clear();
  return kDbOk;
}

std::string ReadDatabaseFileJson(const std::string& path, bool names_only,
                                 const std::string& statement) {
  std::string json;
  (void)ReadDatabaseFile(path, names_only, statement, json, nullptr);
  return json;
}
