#include "data/odbc_handle.h"

#include "data/odbc_error.h"

OdbcHandle AllocateOdbcHandle(SQLSMALLINT type, SQLHANDLE parent) {
  SQLHANDLE handle = SQL_NULL_HANDLE;
  SQLRETURN rc = SQLAllocHandle(type, parent, &handle);
  if (!SQL_SUCCEEDED(rc)) {
    // The new handle holds no diagnostics; the parent's tell why.
    SQLSMALLINT parent_type = type == SQL_HANDLE_STMT ? SQL_HANDLE_DBC : SQL_HANDLE_ENV;
    throw OdbcException(rc, OdbcDiagnostics(parent_type, parent));
  }
  return OdbcHandle(type, handle);
}
