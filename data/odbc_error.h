// Failures of ODBC calls. Inside the ODBC layer a failing call throws
// OdbcException; the connection object catches it at its boundary and turns
// it into a result code and an error text.
#pragma once

#include <sql.h>

#include <stdexcept>
#include <string>

class OdbcException : public std::runtime_error {
 public:
  // message: the diagnostic texts of the handle, as the driver gave them
  // (empty when it gave none).
  OdbcException(SQLRETURN code, std::string message)
      : std::runtime_error(message), code_(code), message_(std::move(message)) {}

  SQLRETURN code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  SQLRETURN code_;
  std::string message_;
};

// The diagnostic message texts of a handle, one line each.
std::string OdbcDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle);

// Throws OdbcException with the handle's diagnostics unless code is
// SQL_SUCCESS or SQL_SUCCESS_WITH_INFO.
void ThrowIfFailed(SQLRETURN code, SQLSMALLINT handle_type, SQLHANDLE handle);
