#include "data/odbc_error.h"

#include <sqlext.h>

std::string OdbcDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle) {
  std::string text;
  if (handle == SQL_NULL_HANDLE) return text;
  SQLCHAR state[SQL_SQLSTATE_SIZE + 1];
  SQLCHAR message[SQL_MAX_MESSAGE_LENGTH + 1];
  for (SQLSMALLINT record = 1;; ++record) {
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRec(handle_type, handle, record, state, &native, message,
                                 sizeof message, &length);
    if (!SQL_SUCCEEDED(rc)) break;
    if (!text.empty()) text += '\n';
    text += reinterpret_cast<const char*>(message);
  }
  return text;
}

void ThrowIfFailed(SQLRETURN code, SQLSMALLINT handle_type, SQLHANDLE handle) {
  if (SQL_SUCCEEDED(code)) return;
  throw OdbcException(code, OdbcDiagnostics(handle_type, handle));
}
