#include "data/odbc_statement.h"

#include <sqlext.h>
#include <string.h>

#include <vector>

#include "data/odbc_error.h"

namespace {

// The part of a value that one SQLGetData call returns; longer values come
// in several parts.
constexpr SQLLEN kTextPartBytes = 8192;

}  // namespace

OdbcStatement::OdbcStatement(SQLHDBC connection)
    : statement_(AllocateOdbcHandle(SQL_HANDLE_STMT, connection)) {}

void OdbcStatement::ExecDirect(const std::string& sql) {
  std::string text = sql;  // the API takes a writable pointer
  SQLRETURN rc = SQLExecDirect(statement_.get(), reinterpret_cast<SQLCHAR*>(text.data()),
                               static_cast<SQLINTEGER>(text.size()));
  // A statement that touches no row answers SQL_NO_DATA; that is success.
  if (rc == SQL_NO_DATA) return;
  ThrowIfFailed(rc, SQL_HANDLE_STMT, statement_.get());
}

void OdbcStatement::Tables() {
  ThrowIfFailed(SQLTables(statement_.get(), nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0),
                SQL_HANDLE_STMT, statement_.get());
}

SQLSMALLINT OdbcStatement::ColumnCount() {
  SQLSMALLINT count = 0;
  ThrowIfFailed(SQLNumResultCols(statement_.get(), &count), SQL_HANDLE_STMT, statement_.get());
  return count;
}

std::string OdbcStatement::ColumnName(SQLUSMALLINT column) {
  std::vector<SQLCHAR> name(256);
  for (;;) {
    SQLSMALLINT length = 0;
    SQLSMALLINT type = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = 0;
    ThrowIfFailed(
        SQLDescribeCol(statement_.get(), column, name.data(), static_cast<SQLSMALLINT>(name.size()),
                       &length, &type, &size, &digits, &nullable),
        SQL_HANDLE_STMT, statement_.get());
    if (length < 0) length = 0;
    if (static_cast<size_t>(length) < name.size()) {
      return std::string(reinterpret_cast<const char*>(name.data()), static_cast<size_t>(length));
    }
    // Cut short: ask again with room for the whole name.
    name.resize(static_cast<size_t>(length) + 1);
  }
}

bool OdbcStatement::Fetch() {
  SQLRETURN rc = SQLFetch(statement_.get());
  if (rc == SQL_NO_DATA) return false;
  ThrowIfFailed(rc, SQL_HANDLE_STMT, statement_.get());
  return true;
}

bool OdbcStatement::GetText(SQLUSMALLINT column, std::string& value) {
  value.clear();
  char part[kTextPartBytes];
  for (;;) {
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(statement_.get(), column, SQL_C_CHAR, part, sizeof part, &indicator);
    // After the last part of a value read piecewise.
    if (rc == SQL_NO_DATA) return true;
    ThrowIfFailed(rc, SQL_HANDLE_STMT, statement_.get());
    if (indicator == SQL_NULL_DATA) return false;
    bool cut = indicator == SQL_NO_TOTAL || indicator >= kTextPartBytes;
    size_t got = cut              ? kTextPartBytes - 1
                 : indicator >= 0 ? static_cast<size_t>(indicator)
                                  : strnlen(part, kTextPartBytes - 1);  // a driver's odd length
    value.append(part, got);
    if (!cut || rc == SQL_SUCCESS) return true;
  }
}
