// Owning wrapper of one ODBC handle (environment, connection or statement).
#pragma once

#include <sql.h>

#include <utility>

class OdbcHandle {
 public:
  OdbcHandle() = default;
  OdbcHandle(SQLSMALLINT type, SQLHANDLE handle) : type_(type), handle_(handle) {}
  ~OdbcHandle() { Reset(); }
  OdbcHandle(OdbcHandle&& other) noexcept
      : type_(other.type_), handle_(std::exchange(other.handle_, nullptr)) {}
  OdbcHandle& operator=(OdbcHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      type_ = other.type_;
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;

  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }
  explicit operator bool() const { return handle_ != SQL_NULL_HANDLE; }

  void Reset() {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
    handle_ = SQL_NULL_HANDLE;
  }

 private:
  SQLSMALLINT type_ = SQL_HANDLE_ENV;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// Allocates a handle of type under parent (SQL_NULL_HANDLE for an
// environment); throws OdbcException with the return code on failure.
OdbcHandle AllocateOdbcHandle(SQLSMALLINT type, SQLHANDLE parent);
