// One ODBC statement on an open connection, with its result set read as
// text. Every failing call throws OdbcException.
#pragma once

#include <sql.h>

#include <string>

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

 private:
  OdbcHandle statement_;
};
