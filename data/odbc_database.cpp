#include "data/odbc_database.h"

#include <sqlext.h>

#include "data/odbc_error.h"
#include "data/wiped_text.h"
#include "platform/codepage.h"

bool CDatabase_Fixbug::OpenEx(const std::string& connect, OdbcAccess access) {
  Close();
  if (!environment_) {
    OdbcHandle environment = AllocateOdbcHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
    ThrowIfFailed(SQLSetEnvAttr(environment.get(), SQL_ATTR_ODBC_VERSION,
                                reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
                  SQL_HANDLE_ENV, environment.get());
    environment_ = std::move(environment);
  }
  OdbcHandle connection = AllocateOdbcHandle(SQL_HANDLE_DBC, environment_.get());
  if (access == OdbcAccess::kReadOnly) {
    ThrowIfFailed(SQLSetConnectAttr(connection.get(), SQL_ATTR_ACCESS_MODE,
                                    reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), 0),
                  SQL_HANDLE_DBC, connection.get());
  }

  std::string utf8 = platform::GbkToUtf8(connect);
  WipedOnExit wipe(utf8);
  SQLRETURN rc =
      SQLDriverConnect(connection.get(), nullptr, reinterpret_cast<SQLCHAR*>(utf8.data()), SQL_NTS,
                       nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (rc == SQL_NO_DATA) return false;
  if (!SQL_SUCCEEDED(rc)) {
    std::string diagnostics = OdbcDiagnostics(SQL_HANDLE_DBC, connection.get());
    if (diagnostics.empty()) return false;
    throw OdbcException(rc, std::move(diagnostics));
  }
  connection_ = std::move(connection);
  return true;
}

void CDatabase_Fixbug::Close() noexcept {
  if (!connection_) return;
  SQLDisconnect(connection_.get());
  connection_.Reset();
}
