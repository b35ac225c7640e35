#include "data/odbc_statement.h"

#include <sqlext.h>
#include <string.h>

#include <vector>

#include "data/odbc_error.h"

namespace {

// The bytes one SQLGetData call may return, with the terminator; longer
// values come in several parts.
constexpr size_t kFirstPartBytes = 128;
constexpr size_t kNextPartBytes = 65536;

// The buffer of a bound column, with the terminator. Drivers pad what a
// value leaves of it with zeros, so it is not made larger than most values
// need; a longer value is read again. Each slot has one byte more that
// stays zero, so a value ends inside its slot whatever the driver writes.
constexpr size_t kBoundBytes = 128;
constexpr size_t kSlotBytes = kBoundBytes + 1;

constexpr char kNoText[] = "";

}  // namespace

OdbcStatement::OdbcStatement(SQLHDBC connection)
    : connection_(connection), statement_(AllocateOdbcHandle(SQL_HANDLE_STMT, connection)) {}

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
  // Parts are read straight into value. The first part is small because
  // drivers pad the rest of the buffer with zeros (strncpy), and most cells
  // are short; a longer value continues in large parts.
  size_t part = kFirstPartBytes;
  for (;;) {
    size_t used = value.size();
    value.resize(used + part);
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(statement_.get(), column, SQL_C_CHAR, value.data() + used,
                              static_cast<SQLLEN>(part), &indicator);
    if (rc == SQL_NO_DATA) {
      // After the last part of a value read piecewise.
      value.resize(used);
      return true;
    }
    if (!SQL_SUCCEEDED(rc)) {
      value.clear();
      ThrowIfFailed(rc, SQL_HANDLE_STMT, statement_.get());
    }
    if (indicator == SQL_NULL_DATA) {
      value.clear();
      return false;
    }
    bool cut = indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(part);
    size_t got = cut              ? part - 1
                 : indicator >= 0 ? static_cast<size_t>(indicator)
                                  : strnlen(value.data() + used, part - 1);  // an odd length
    value.resize(used + got);
    if (!cut || rc == SQL_SUCCESS) return true;
    part = kNextPartBytes;
  }
}

void OdbcStatement::BindText(SQLUSMALLINT column, char* buffer, SQLLEN size, SQLLEN* indicator) {
  ThrowIfFailed(SQLBindCol(statement_.get(), column, SQL_C_CHAR, buffer, size, indicator),
                SQL_HANDLE_STMT, statement_.get());
}

void OdbcStatement::Unbind() noexcept {
  SQLFreeStmt(statement_.get(), SQL_UNBIND);
}

bool OdbcStatement::CanGetBoundData() {
  SQLUINTEGER extensions = 0;
  SQLRETURN rc = SQLGetInfo(connection_, SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions,
                            nullptr);
  constexpr SQLUINTEGER kNeeded = SQL_GD_BOUND | SQL_GD_ANY_COLUMN;
  return SQL_SUCCEEDED(rc) && (extensions & kNeeded) == kNeeded;
}

OdbcTextRows::OdbcTextRows(OdbcStatement& statement, SQLUSMALLINT columns, Reading reading)
    : statement_(statement), columns_(columns) {
  if (reading != Reading::kBound || columns_ == 0 || !statement_.CanGetBoundData()) return;
  buffers_.assign(columns_ * kSlotBytes, '\0');
  indicators_.resize(columns_);
  try {
    for (SQLUSMALLINT column = 1; column <= columns_; ++column) {
      statement_.BindText(column, buffers_.data() + (column - 1) * kSlotBytes,
                          static_cast<SQLLEN>(kBoundBytes), &indicators_[column - 1]);
    }
    bound_ = true;
  } catch (const OdbcException&) {
    // A column the driver will not bind: every value is read with SQLGetData.
    statement_.Unbind();
  }
}

bool OdbcTextRows::Next() {
  return statement_.Fetch();
}

std::string_view OdbcTextRows::Text(SQLUSMALLINT column) {
  if (bound_) {
    SQLLEN indicator = indicators_[column - 1];
    if (indicator == SQL_NULL_DATA) return std::string_view(kNoText, 0);
    if (indicator >= 0 && static_cast<size_t>(indicator) < kBoundBytes) {
      return std::string_view(buffers_.data() + (column - 1) * kSlotBytes,
                              static_cast<size_t>(indicator));
    }
    // Cut short, or of a length the driver does not know: read it whole.
  }
  statement_.GetText(column, value_);
  return value_;
}
