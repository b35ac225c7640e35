// The ODBC connection under CSQLDatabase_ODBC: connects with a caller-given
// connection string and never shows a driver dialog.
#pragma once

#include <sql.h>

#include <string>

#include "data/odbc_handle.h"

enum class OdbcAccess {
  kReadWrite,
  kReadOnly,
};

class CDatabase_Fixbug {
 public:
  CDatabase_Fixbug() = default;
  ~CDatabase_Fixbug() { Close(); }
  CDatabase_Fixbug(const CDatabase_Fixbug&) = delete;
  CDatabase_Fixbug& operator=(const CDatabase_Fixbug&) = delete;

  // Connects. True when open; false when the driver refused without saying
  // why. An ODBC error throws OdbcException. The string (code page 936) is
  // handed to the driver manager as UTF-8, since file names on this system
  // are UTF-8; that copy is wiped at once, and the connection keeps no copy
  // of its own.
  bool OpenEx(const std::string& connect, OdbcAccess access = OdbcAccess::kReadWrite);

  // Disconnects; errors while closing are ignored.
  void Close() noexcept;

  bool IsOpen() const { return static_cast<bool>(connection_); }
  SQLHDBC handle() const { return connection_.get(); }

 private:
  OdbcHandle environment_;
  OdbcHandle connection_;
};
