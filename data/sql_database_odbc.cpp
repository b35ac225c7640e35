#include "data/sql_database_odbc.h"

#include <exception>

#include "data/database_codes.h"
#include "data/odbc_error.h"
#include "data/odbc_statement.h"
#include "data/text_format.h"
#include "util/text_encoding.h"

namespace {

std::string ToLowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// True when the statement, after leading blanks and line breaks, begins
// with "select" in any case.
bool IsQuery(const std::string& sql) {
  size_t start = sql.find_first_not_of(" \t\r\n");
  if (start == std::string::npos || sql.size() - start < 6) return false;
  return ToLowerAscii(sql.substr(start, 6)) == "select";
}

void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

}  // namespace

std::string CSQLDatabase_ODBC::ToDriver(const std::string& sql) const {
  return driver_kind_ == 1 ? AnsiToUtf8(sql) : sql;
}

void CSQLDatabase_ODBC::FromDriver(std::string& text) {
  if (driver_kind_ == 1) decoder_.ToAnsi(text);
}

std::string_view CSQLDatabase_ODBC::FromDriver(std::string_view text) {
  return driver_kind_ == 1 ? decoder_.ToAnsi(text) : text;
}

int32_t CSQLDatabase_ODBC::Open(const std::string& connect, std::string* error) {
  std::lock_guard<std::mutex> hold(lock_);
  driver_kind_ = ToLowerAscii(connect).find("sqlite3") != std::string::npos ? 1 : 0;
  try {
    if (database_.OpenEx(connect)) return kDbOk;
    SetError(error, kTextCannotOpen);
  } catch (const OdbcException& e) {
    std::string message = e.message();
    FromDriver(message);
    SetError(error, FormatText("Error:Open database,ConnectString:%s, 错误代码：%d,错误信息：%s",
                               connect.c_str(), static_cast<int>(e.code()), message.c_str()));
  } catch (const std::exception&) {
    SetError(error, FormatText("Error:Open database,ConnectString:%s", connect.c_str()));
  }
  return kDbOpenFailed;
}

int32_t CSQLDatabase_ODBC::Execute(const std::string& sql, std::string* error) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!database_.IsOpen()) return kDbNotOpen;
  try {
    OdbcStatement statement(database_.handle());
    statement.ExecDirect(ToDriver(sql));
    return kDbOk;
  } catch (const OdbcException& e) {
    std::string message = e.message();
    FromDriver(message);
    SetError(error, FormatText("Error:Execute SQL, 错误代码：%d,错误信息：%s,SQL:%s",
                               static_cast<int>(e.code()), message.c_str(), sql.c_str()));
    return kDbStatementFailed + e.code();
  } catch (const std::exception&) {
    SetError(error, FormatText("Error:Execute SQL,SQL:%s", sql.c_str()));
    return kDbStatementFailed;
  }
}

int32_t CSQLDatabase_ODBC::GetDataset(const std::string& sql, DatasetText* dataset,
                                      std::string* error) {
  if (dataset != nullptr) *dataset = DatasetText();
  GrowingText text;
  int32_t code = AppendDataset(sql, text, error);
  if (code == kDbOk && dataset != nullptr) *dataset = text.Release();
  return code;
}

int32_t CSQLDatabase_ODBC::AppendDataset(const std::string& sql, GrowingText& text,
                                         std::string* error) {
  if (error != nullptr) error->clear();
  if (!IsQuery(sql)) return Execute(sql, error);

  std::lock_guard<std::mutex> hold(lock_);
  if (!database_.IsOpen()) return kDbNotOpen;
  const size_t start = text.size();
  try {
    OdbcStatement statement(database_.handle());
    statement.ExecDirect(ToDriver(sql));
    SQLSMALLINT columns = statement.ColumnCount();
    DatasetTextBuilder builder(columns, text);
    std::string name;
    for (SQLUSMALLINT column = 1; column <= columns; ++column) {
      name = statement.ColumnName(column);
      FromDriver(name);
      builder.AddColumnName(name.c_str(), name.size());
    }
    OdbcTextRows result(statement, static_cast<SQLUSMALLINT>(columns));
    uint32_t rows = 0;
    while (rows < kDatasetMaxRows && result.Next()) {
      for (SQLUSMALLINT column = 1; column <= columns; ++column) {
        // NULL reads as an empty text. Plain ASCII goes in as it came;
        // anything else is converted and escaped. Both views are followed
        // by a zero byte, where the escape stops.
        std::string_view raw = result.Text(column);
        if (builder.AddPlainValue(raw.data(), raw.size())) continue;
        std::string_view value = FromDriver(raw);
        builder.AddValue(value.data(), value.size());
      }
      ++rows;
    }
    builder.Close(rows);
    return kDbOk;
  } catch (const OdbcException& e) {
    text.Truncate(start);
    std::string message = e.message();
    FromDriver(message);
    SetError(error, FormatText("DB getdataset error: %d,错误信息：%s,SQL:%s",
                               static_cast<int>(e.code()), message.c_str(), sql.c_str()));
    return kDbStatementFailed + e.code();
  } catch (const std::exception&) {
    text.Truncate(start);
    SetError(error, FormatText("DB getdataset error,SQL:%s", sql.c_str()));
    return kDbStatementFailed;
  }
}

int32_t CSQLDatabase_ODBC::ListTables(std::vector<std::string>& tables, std::string* error) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!database_.IsOpen()) return kDbNotOpen;
  enum class Step { kAllocate, kList, kFetch } step = Step::kAllocate;
  auto fail = [&step, error](SQLRETURN code) {
    int rc = static_cast<int>(code);
    switch (step) {
      case Step::kAllocate:
        SetError(error, FormatText("Error %d in SQLAllocHandle", rc));
        break;
      case Step::kList:
        SetError(error, FormatText("Error %d in SQLTables", rc));
        break;
      case Step::kFetch:
        SetError(error, FormatText("Error %d fetching SQLTables", rc));
        break;
    }
    return kDbStatementFailed + rc;
  };
  try {
    OdbcStatement statement(database_.handle());
    step = Step::kList;
    statement.Tables();
    step = Step::kFetch;
    std::string name;
    while (statement.Fetch()) {
      // The third column of the listing is the table name.
      statement.GetText(3, name);
      FromDriver(name);
      tables.push_back(name);
    }
    return kDbOk;
  } catch (const OdbcException& e) {
    return fail(e.code());
  } catch (const std::exception&) {
    fail(0);
    return kDbStatementFailed;
  }
}
