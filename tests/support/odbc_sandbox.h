// Real ODBC drivers for tests, without root. The driver manager reads its
// driver list from $ODBCSYSINI/odbcinst.ini and keeps the directory it saw
// first for the rest of the process, so one directory per test program
// serves every test, and each test writes the driver list it needs there.
#pragma once

#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "tests/support/sandbox.h"

namespace testing_support {

inline constexpr char kSqliteDriverEntry[] =
    "[SQLite3 ODBC Driver]\n"
    "Description=SQLite3 ODBC Driver\n"
    "Driver=libsqlite3odbc.so\n"
    "Setup=libsqlite3odbc.so\n";

inline constexpr char kMdbToolsDriverEntry[] =
    "[MDBTools Access Driver (*.mdb)]\n"
    "Description=MDB Tools, read-only\n"
    "Driver=libmdbodbc.so\n"
    "Setup=libmdbodbc.so\n";

// The process's ODBC configuration directory, made and announced to the
// driver manager on first use and removed when the program ends.
class OdbcConfiguration {
 public:
  OdbcConfiguration() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tomerack-odbc-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) return;
    directory_ = tmpl;
    setenv("ODBCSYSINI", directory_.c_str(), 1);
  }
  ~OdbcConfiguration() {
    std::error_code ec;
    if (!directory_.empty()) std::filesystem::remove_all(directory_, ec);
  }
  const std::string& directory() const { return directory_; }

 private:
  std::string directory_;
};

inline const std::string& OdbcConfigDirectory() {
  static OdbcConfiguration configuration;
  return configuration.directory();
}

// Replaces the installed-driver list by extra_entries followed by the real
// SQLite and MDB Tools drivers. The driver manager caches what it looked up
// about a driver for 20 seconds, so within one process the real drivers'
// entries never change; a test that needs them missing runs a child process
// with a directory of its own.
inline void SetInstalledOdbcDrivers(const std::string& extra_entries = {}) {
  WriteBytes(OdbcConfigDirectory() + "/odbcinst.ini",
             extra_entries + kSqliteDriverEntry + kMdbToolsDriverEntry);
}

// Builds an SQLite file by running a UTF-8 script; empty on success, else
// the SQLite message.
inline std::string MakeSqliteFile(const std::string& path, const std::string& script_utf8) {
  sqlite3* db = nullptr;
  std::string message;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    message = db != nullptr ? sqlite3_errmsg(db) : "cannot open";
  } else {
    char* error = nullptr;
    if (sqlite3_exec(db, script_utf8.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      message = error != nullptr ? error : "failed";
      sqlite3_free(error);
    }
  }
  sqlite3_close(db);
  return message;
}

// A sandbox in which the SQLite ODBC driver is installed under the name the
// connection strings use.
class OdbcSandbox : public Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    ASSERT_FALSE(OdbcConfigDirectory().empty());
    SetInstalledOdbcDrivers();
  }
};

}  // namespace testing_support
