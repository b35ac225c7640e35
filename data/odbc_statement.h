// One ODBC statement on an open connection, with its result set read as
// text. Every failing call throws OdbcException.
#pragma once

#include <sql.h>

#include <string>
#include <string_view>
#include <vector>

#include "data/odbc_handle.h"

class OdbcStatement {
 public:
  // Freeing the statement also closes its cursor.
  explicit OdbcStatement(SQLHDBC connection);
  OdbcStatement(const OdbcStatement&) = delete;
  OdbcStatement& operator=(const OdbcStatement&) = delete;

  // Runs the statement text as it is (already in the driver's encoding),
  // with the driver's default cursor.
  void ExecDirect(const std::string& sql);

  // Starts the listing of all tables of every catalog, schema and type.
  void Tables();

  SQLSMALLINT ColumnCount();
  // The name of column (counted from 1) as the driver gives it.
  std::string ColumnName(SQLUSMALLINT column);

  // Moves to the next row; false after the last.
  bool Fetch();

  // The driver's text rendering of column in the current row, however long.
  // False, with value empty, for NULL.
  bool GetText(SQLUSMALLINT column, std::string& value);

  // Binds column as text: each fetch writes the value, cut to size - 1
  // bytes and zero-terminated, into buffer and its full length (or
  // SQL_NULL_DATA, SQL_NO_TOTAL) into indicator.
  void BindText(SQLUSMALLINT column, char* buffer, SQLLEN size, SQLLEN* indicator);
  // Releases every binding.
  void Unbind() noexcept;

  // True when the driver lets SQLGetData read a bound column again, from
  // its start, and read a column before the last bound one.
  bool CanGetBoundData();

 private:
  SQLHDBC connection_;
  OdbcHandle statement_;
};

// The rows of a result set as texts, read as cheaply as the driver allows:
// columns are bound, so that a fetch fills a whole row in one call, and only
// values longer than their buffer are read again with SQLGetData. A driver
// that cannot read a bound column again has every value read with
// SQLGetData.
class OdbcTextRows {
 public:
  enum class Reading {
    kBound,    // bound columns where the driver allows it
    kGetData,  // every value with SQLGetData
  };

  OdbcTextRows(OdbcStatement& statement, SQLUSMALLINT columns, Reading reading = Reading::kBound);

  // Moves to the next row; false after the last.
  bool Next();

  // The text of column (counted from 1) in the current row; empty for NULL.
  // A zero byte follows it (one inside a value ends it earlier when it is
  // read as a zero-terminated text). Valid until the next call of Text or
  // Next. Columns are asked for in increasing order.
  std::string_view Text(SQLUSMALLINT column);

 private:
  OdbcStatement& statement_;
  SQLUSMALLINT columns_;
  bool bound_ = false;
  std::vector<char> buffers_;  // one slot per column
  std::vector<SQLLEN> indicators_;
  std::string value_;  // a value read with SQLGetData
};
