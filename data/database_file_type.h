// Which kind of data file a path names, which installed ODBC driver reads
// it, and the connection string that opens it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class DatabaseFileType : int {
  kUnknown = 0,
  kExcel = 1,
  kAccess = 2,
  kDbase = 3,
  kText = 4,
  kSqlite = 9,
};

// The type from the lower-cased file name: the first of ".xls", ".mdb",
// ".dbf", ".txt", ".csv", ".xlsx", ".xlsm", ".xlsb", ".db", ".db3",
// ".sqlite", ".sqlite3" found anywhere in it decides (so data.txt.db is a
// text table). kDbOk, or kDbUnknownType with the type kUnknown.
[[nodiscard]] int32_t GetDatabaseFileType(const std::string& path, DatabaseFileType& type);

// Appends to drivers the first installed ODBC driver whose lower-cased name
// contains the file's extension: the text from its last dot, lower-cased,
// without the dot when longer than four characters (".xls", "xlsx").
// kDbOk, or kDbUnknownType with an error text (error may be null).
[[nodiscard]] int32_t FindOdbcDriver(std::vector<std::string>& drivers, const std::string& path,
                                     std::string* error);

// The connection string for the file. kDbOk; kDbUnknownType for a file of
// no known type; kDbNoDriver when no installed driver reads an Excel,
// Access, dBase or text file (the lookup's error text stays); kDbOpenFailed
// with kTextCannotOpen for a path holding ";", "{", "}", "=" or a zero byte,
// which would be read as attributes of their own (the trail byte of a
// double-byte character does not count). SQLite files name their driver
// themselves and need no lookup to succeed.
[[nodiscard]] int32_t BuildConnectString(std::string& connect, const std::string& path,
                                         std::string* error);
