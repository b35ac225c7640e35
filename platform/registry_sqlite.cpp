#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <initializer_list>
#include <memory>

#include "platform/codepage.h"
#include "platform/registry.h"

namespace platform {
namespace {

// Codes for failures of the store itself, as Windows reports them for a
// damaged or unreadable hive.
constexpr int32_t kRegCorrupt = 1015;   // ERROR_REGISTRY_CORRUPT
constexpr int32_t kRegIoFailed = 1016;  // ERROR_REGISTRY_IO_FAILED

// Other threads and processes hold the database only for single statements.
constexpr int kBusyTimeoutMs = 10000;

// Created inside an immediate transaction: run as separate statements, a
// connection that has read the schema and then wants to write can deadlock
// with another one doing the same, and SQLite then fails one of them at once
// instead of waiting.
constexpr const char* kSchema =
    "BEGIN IMMEDIATE;"
    "CREATE TABLE IF NOT EXISTS reg_keys("
    "  fold BLOB PRIMARY KEY, name BLOB NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS reg_values("
    "  key_fold BLOB NOT NULL, fold BLOB NOT NULL, name BLOB NOT NULL,"
    "  type INTEGER NOT NULL, data BLOB NOT NULL,"
    "  PRIMARY KEY(key_fold, fold)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS reg_denied(fold BLOB PRIMARY KEY) WITHOUT ROWID;"
    "COMMIT;";

struct HiveInfo {
  RegistryHive hive;
  const char* name;
};

constexpr HiveInfo kHives[] = {
    {RegistryHive::kClassesRoot, "HKEY_CLASSES_ROOT"},
    {RegistryHive::kCurrentUser, "HKEY_CURRENT_USER"},
    {RegistryHive::kLocalMachine, "HKEY_LOCAL_MACHINE"},
    {RegistryHive::kUsers, "HKEY_USERS"},
    {RegistryHive::kCurrentConfig, "HKEY_CURRENT_CONFIG"},
};

int32_t MapSqliteError(int rc) {
  switch (rc & 0xff) {
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
    case SQLITE_AUTH:
      return kRegAccessDenied;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return kRegCorrupt;
    default:
      return kRegIoFailed;
  }
}

// Levels of a key path. "\" inside a double-byte character is not a
// separator.
std::vector<std::string> SplitKeyPath(std::string_view path) {
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i < path.size(); ++i) {
    char c = path[i];
    if (IsGbkLeadByte(static_cast<unsigned char>(c)) && i + 1 < path.size()) {
      part += c;
      part += path[++i];
    } else if (c == '\\' || c == '/') {
      if (!part.empty()) parts.push_back(std::move(part));
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(std::move(part));
  return parts;
}

std::string JoinLevels(const std::vector<std::string>& parts, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    if (i) out += '\\';
    out += parts[i];
  }
  return out;
}

// The form in which names are compared: ASCII letters upper-cased.
std::string Fold(std::string_view name) {
  return GbkToUpper(name);
}

std::string RegistryDirectory() {
  const char* dir = std::getenv(kRegistryDirEnvironment);
  if (dir && *dir) return dir;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return std::string(config) + "/tomerack/registry";
  std::string home;
  if (const char* h = std::getenv("HOME"); h && *h) {
    home = h;
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
    home = pw->pw_dir;
  }
  return home + "/.config/tomerack/registry";
}

bool MakeDirectories(const std::string& dir) {
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirectories(dir.substr(0, slash))) {
    return false;
  }
  return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Database = std::unique_ptr<sqlite3, SqliteCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

enum class Access { kRead, kWrite };

// A statement parameter: names and data are bound as blobs, since they are
// code page 936 bytes and not UTF-8 text. Implicit, for brace lists.
struct Param {
  Param(std::string_view b) : blob(b) {}
  Param(const std::string& b) : blob(b) {}
  Param(int64_t n) : number(n), is_number(true) {}
  std::string_view blob;
  int64_t number = 0;
  bool is_number = false;
};

// One connection per call keeps threads and processes apart without any
// state shared in this process; SQLite's locks and the busy timeout do the
// rest.
class Hive {
 public:
  // Opens the hive's database. For reading, a hive that was never written
  // opens as empty (missing() is true).
  int32_t Open(RegistryHive hive, Access access) {
    std::string dir = RegistryDirectory();
    std::string file = dir + "/" + RegistryHiveName(hive) + ".db";
    struct stat st;
    bool exists = ::stat(file.c_str(), &st) == 0;
    if (access == Access::kRead) {
      if (!exists) {
        missing_ = true;
        return kRegSuccess;
      }
      return Connect(file, SQLITE_OPEN_READONLY);
    }
    if (!MakeDirectories(dir)) return kRegAccessDenied;
    // A file without any write bit counts as read-only even for root, the
    // counterpart of the read-only attribute.
    if (exists && ((st.st_mode & 0222) == 0 || ::access(file.c_str(), W_OK) != 0)) {
      return kRegAccessDenied;
    }
    if (::access(dir.c_str(), W_OK | X_OK) != 0) return kRegAccessDenied;
    int32_t rc = Connect(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (rc != kRegSuccess) return rc;
    rc = Exec(kSchema);
    if (rc != kRegSuccess) (void)Exec("ROLLBACK");
    return rc;
  }

  bool missing() const { return missing_; }

  int32_t Exec(const char* sql) {
    int rc = sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? kRegSuccess : MapSqliteError(rc);
  }

  // Runs a statement. The first result row, if any, is handed to on_row;
  // found tells whether there was one.
  template <typename OnRow>
  int32_t Run(const char* sql, std::initializer_list<Param> params, bool* found, OnRow on_row) {
    if (found) *found = false;
    if (missing_) return kRegSuccess;
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db_.get(), sql, -1, &raw, nullptr);
    Statement stmt(raw);
    if (rc != SQLITE_OK) {
      // A database that another process has only just created has no
      // tables yet; for a reader it is as empty as a missing one.
      return (rc == SQLITE_ERROR && !writable_) ? kRegSuccess : MapSqliteError(rc);
    }
    int index = 1;
    for (const Param& p : params) {
      if (p.is_number) {
        rc = sqlite3_bind_int64(raw, index++, p.number);
      } else if (p.blob.empty()) {
        // An empty text must stay an empty blob, not become NULL.
        rc = sqlite3_bind_zeroblob(raw, index++, 0);
      } else {
        rc = sqlite3_bind_blob64(raw, index++, p.blob.data(), p.blob.size(), SQLITE_TRANSIENT);
      }
      if (rc != SQLITE_OK) return MapSqliteError(rc);
    }
    rc = sqlite3_step(raw);
    if (rc == SQLITE_ROW) {
      if (found) *found = true;
      on_row(raw);
      return kRegSuccess;
    }
    return rc == SQLITE_DONE ? kRegSuccess : MapSqliteError(rc);
  }

  int32_t Run(const char* sql, std::initializer_list<Param> params, bool* found = nullptr) {
    return Run(sql, params, found, [](sqlite3_stmt*) {});
  }

  int Changes() { return sqlite3_changes(db_.get()); }

  int32_t KeyExists(const std::string& fold, bool& exists) {
    if (fold.empty()) {  // the hive's root always exists
      exists = true;
      return kRegSuccess;
    }
    return Run("SELECT 1 FROM reg_keys WHERE fold = ?", {fold}, &exists);
  }

  int32_t IsDenied(const std::string& fold, bool& denied) {
    return Run("SELECT 1 FROM reg_denied WHERE fold = ?", {fold}, &denied);
  }

 private:
  int32_t Connect(const std::string& file, int flags) {
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
    db_.reset(raw);
    if (rc != SQLITE_OK) return MapSqliteError(rc);
    writable_ = (flags & SQLITE_OPEN_READWRITE) != 0;
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    return kRegSuccess;
  }

  Database db_;
  bool missing_ = false;
  bool writable_ = false;
};

// A write transaction, taken at once so that a check and the change that
// depends on it see the same state; rolled back unless committed.
class WriteTransaction {
 public:
  explicit WriteTransaction(Hive& hive) : hive_(hive) {}
  ~WriteTransaction() {
    if (open_) (void)hive_.Exec("ROLLBACK");
  }
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;

  int32_t Begin() {
    int32_t rc = hive_.Exec("BEGIN IMMEDIATE");
    open_ = rc == kRegSuccess;
    return rc;
  }
  int32_t Commit() {
    int32_t rc = hive_.Exec("COMMIT");
    if (rc == kRegSuccess) open_ = false;
    return rc;
  }

 private:
  Hive& hive_;
  bool open_ = false;
};

// Opens the hive for a change of key_fold: the key must exist and must not
// be marked read-only. The transaction is begun on success.
int32_t BeginKeyChange(Hive& db, WriteTransaction& tx, RegistryHive hive,
                       const std::string& key_fold) {
  int32_t rc = db.Open(hive, Access::kWrite);
  if (rc == kRegSuccess) rc = tx.Begin();
  if (rc != kRegSuccess) return rc;
  bool exists = false, denied = false;
  if ((rc = db.KeyExists(key_fold, exists)) != kRegSuccess) return rc;
  if (!exists) return kRegFileNotFound;
  if ((rc = db.IsDenied(key_fold, denied)) != kRegSuccess) return rc;
  return denied ? kRegAccessDenied : kRegSuccess;
}

std::string FoldedPath(std::string_view key_path) {
  std::vector<std::string> parts = SplitKeyPath(key_path);
  return Fold(JoinLevels(parts, parts.size()));
}

}  // namespace

const char* RegistryHiveName(RegistryHive hive) {
  for (const HiveInfo& info : kHives) {
    if (info.hive == hive) return info.name;
  }
  return "HKEY_UNKNOWN";
}

bool RegistryHiveFromName(std::string_view name, RegistryHive& hive) {
  std::string wanted = Fold(name);
  for (const HiveInfo& info : kHives) {
    if (wanted == info.name) {
      hive = info.hive;
      return true;
    }
  }
  return false;
}

int32_t RegCreateKey(RegistryHive hive, std::string_view key_path) {
  std::vector<std::string> parts = SplitKeyPath(key_path);
  if (parts.empty()) return kRegSuccess;
  const std::string fold = Fold(JoinLevels(parts, parts.size()));
  {
    // Opening an existing key needs no write access to the hive.
    Hive reader;
    bool exists = false;
    int32_t rc = reader.Open(hive, Access::kRead);
    if (rc == kRegSuccess) rc = reader.KeyExists(fold, exists);
    if (rc == kRegSuccess && exists) return kRegSuccess;
  }
  Hive db;
  WriteTransaction tx(db);
  int32_t rc = db.Open(hive, Access::kWrite);
  if (rc == kRegSuccess) rc = tx.Begin();
  if (rc != kRegSuccess) return rc;
  std::string parent_fold;
  for (size_t level = 1; level <= parts.size(); ++level) {
    std::string name = JoinLevels(parts, level);
    std::string level_fold = Fold(name);
    bool exists = false;
    if ((rc = db.KeyExists(level_fold, exists)) != kRegSuccess) return rc;
    if (!exists) {
      bool denied = false;
      if ((rc = db.IsDenied(parent_fold, denied)) != kRegSuccess) return rc;
      if (denied) return kRegAccessDenied;
      rc = db.Run("INSERT INTO reg_keys(fold, name) VALUES(?, ?)", {level_fold, name});
      if (rc != kRegSuccess) return rc;
    }
    parent_fold = std::move(level_fold);
  }
  return tx.Commit();
}

int32_t RegOpenKey(RegistryHive hive, std::string_view key_path, bool for_write) {
  const std::string fold = FoldedPath(key_path);
  Hive db;
  int32_t rc = db.Open(hive, Access::kRead);
  bool exists = false, denied = false;
  if (rc == kRegSuccess) rc = db.KeyExists(fold, exists);
  if (rc != kRegSuccess) return rc;
  if (!exists) return kRegFileNotFound;
  if (!for_write) return kRegSuccess;
  if ((rc = db.IsDenied(fold, denied)) != kRegSuccess) return rc;
  if (denied) return kRegAccessDenied;
  // Writing needs a hive that can be written.
  Hive writer;
  return writer.Open(hive, Access::kWrite);
}

int32_t RegSetValue(RegistryHive hive, std::string_view key_path, std::string_view value_name,
                    uint32_t type, std::string_view data) {
  const std::string key_fold = FoldedPath(key_path);
  Hive db;
  WriteTransaction tx(db);
  int32_t rc = BeginKeyChange(db, tx, hive, key_fold);
  if (rc != kRegSuccess) return rc;
  // A value that exists keeps the spelling of its name.
  rc = db.Run(
      "INSERT INTO reg_values(key_fold, fold, name, type, data) VALUES(?, ?, ?, ?, ?)"
      " ON CONFLICT(key_fold, fold) DO UPDATE SET type = excluded.type, data = excluded.data",
      {key_fold, Fold(value_name), value_name, static_cast<int64_t>(type), data});
  if (rc != kRegSuccess) return rc;
  return tx.Commit();
}

int32_t RegQueryValue(RegistryHive hive, std::string_view key_path, std::string_view value_name,
                      uint32_t& type, std::string& data, size_t buffer_size) {
  type = 0;
  data.clear();
  const std::string key_fold = FoldedPath(key_path);
  Hive db;
  int32_t rc = db.Open(hive, Access::kRead);
  bool exists = false, found = false;
  if (rc == kRegSuccess) rc = db.KeyExists(key_fold, exists);
  if (rc != kRegSuccess) return rc;
  if (!exists) return kRegFileNotFound;
  rc = db.Run("SELECT type, data FROM reg_values WHERE key_fold = ? AND fold = ?",
              {key_fold, Fold(value_name)}, &found, [&](sqlite3_stmt* row) {
                type = static_cast<uint32_t>(sqlite3_column_int64(row, 0));
                const void* blob = sqlite3_column_blob(row, 1);
                int size = sqlite3_column_bytes(row, 1);
                if (blob && size > 0) data.assign(static_cast<const char*>(blob), size);
              });
  if (rc != kRegSuccess) return rc;
  if (!found) return kRegFileNotFound;
  if (data.size() > buffer_size) {
    data.clear();
    return kRegMoreData;
  }
  return kRegSuccess;
}

int32_t RegDeleteValue(RegistryHive hive, std::string_view key_path, std::string_view value_name) {
  const std::string key_fold = FoldedPath(key_path);
  Hive db;
  WriteTransaction tx(db);
  int32_t rc = BeginKeyChange(db, tx, hive, key_fold);
  if (rc != kRegSuccess) return rc;
  rc = db.Run("DELETE FROM reg_values WHERE key_fold = ? AND fold = ?",
              {key_fold, Fold(value_name)});
  if (rc != kRegSuccess) return rc;
  if (db.Changes() == 0) return kRegFileNotFound;
  return tx.Commit();
}

// The mark belongs to the path, not to a key that exists: a setting can be
// locked before anything has created it. The key itself may then still be
// created (by its parent), but neither changed nor given subkeys.
int32_t RegDenyWrite(RegistryHive hive, std::string_view key_path, bool deny) {
  const std::string fold = FoldedPath(key_path);
  Hive db;
  int32_t rc = db.Open(hive, Access::kWrite);
  if (rc != kRegSuccess) return rc;
  return deny ? db.Run("INSERT OR IGNORE INTO reg_denied(fold) VALUES(?)", {fold})
              : db.Run("DELETE FROM reg_denied WHERE fold = ?", {fold});
}

}  // namespace platform
