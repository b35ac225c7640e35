#include "data/database_file_json.h"

#include <vector>

#include "data/database_codes.h"
#include "data/database_file_type.h"
#include "data/dataset_text.h"
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
                         DatasetText& json, std::string* error) {
  const std::string escaped_path = Escaped(path);
  std::string error_text;
  auto fail = [&](int32_t code) {
    std::string failure = FailureText(escaped_path, code, error_text);
    GrowingText text;
    text.Append(failure);
    json = text.Release();
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

  // One buffer for the whole answer: the dataset texts are written into it
  // where they stand, not built apart and copied.
  GrowingText text;
  text.Append(FormatText("{\"FileName\":\"%s\",\"DBName\":\"%s\",\"DBData\":[",
                         escaped_path.c_str(), escaped_path.c_str()));
  for (size_t i = 0; i < tables.size(); ++i) {
    if (i > 0) text.Append(",");
    text.Append(EntryStart(tables[i]));
    if (names_only && statement.empty()) {
      text.Append(kEmptyTableData);
    } else {
      std::string query =
          statement.empty() ? FormatText("select * from [%s]", tables[i].c_str()) : statement;
      size_t before = text.size();
      int32_t code = database.AppendDataset(query, text, &error_text);
      if (code != kDbOk) {
        text = GrowingText();  // the entries so far go before the failure text is made
        return fail(code);
      }
      // A statement that is not a query gives no dataset text.
      if (text.size() == before) text.Append(kEmptyTableData);
    }
    text.Append("}");
  }
  text.Append("\r\n],\"Error\":\"0\",\"ErrorString\":\"\"\r\n}");
  json = text.Release();
  if (error != nullptr) error->clear();
  return kDbOk;
}

int32_t ReadDatabaseFile(const std::string& path, bool names_only, const std::string& statement,
                         std::string& json, std::string* error) {
  DatasetText text;
  int32_t code = ReadDatabaseFile(path, names_only, statement, text, error);
  json.assign(text.view());
  return code;
}

std::string ReadDatabaseFileJson(const std::string& path, bool names_only,
                                 const std::string& statement) {
  std::string json;
  (void)ReadDatabaseFile(path, names_only, statement, json, nullptr);
  return json;
}
