#include "data/database_file_type.h"

#include <odbcinst.h>
#include <sql.h>

#include <cstring>
#include <string_view>

#include "data/database_codes.h"
#include "data/text_format.h"
#include "platform/codepage.h"
#include "util/path_names.h"

namespace {

// ASCII letters only; a double-byte character is kept whole, so a trail byte
// that looks like a capital letter is not changed.
std::string GbkToLower(std::string_view text) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    auto c = static_cast<unsigned char>(out[i]);
    if (platform::IsGbkLeadByte(c) && i + 1 < out.size()) {
      ++i;
    } else if (c >= 'A' && c <= 'Z') {
      out[i] = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

// Driver names come from the driver manager's configuration as bytes of
// any encoding; only ASCII letters matter for the match.
std::string AsciiToLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

void SetError(std::string* error, const char* text) {
  if (error != nullptr) *error = text;
}

struct TypeByText {
  const char* text;
  DatabaseFileType type;
};

// Searched in this order; the first text found anywhere in the name wins.
constexpr TypeByText kTypesByText[] = {
    {".xls", DatabaseFileType::kExcel},     {".mdb", DatabaseFileType::kAccess},
    {".dbf", DatabaseFileType::kDbase},     {".txt", DatabaseFileType::kText},
    {".csv", DatabaseFileType::kText},      {".xlsx", DatabaseFileType::kExcel},
    {".xlsm", DatabaseFileType::kExcel},    {".xlsb", DatabaseFileType::kExcel},
    {".db", DatabaseFileType::kSqlite},     {".db3", DatabaseFileType::kSqlite},
    {".sqlite", DatabaseFileType::kSqlite}, {".sqlite3", DatabaseFileType::kSqlite},
};

// The size SQLGetInstalledDrivers is given: zero-separated names.
constexpr size_t kDriverListBytes = 10000;

// True when the path can stand as one attribute value of a connection
// string. The driver manager ends a value at ";" (what follows is another
// attribute: another DRIVER= is loaded as a library, another Database= or
// NoCreat= wins over ours) and takes braces as quotes around a value; the
// MDB Tools driver looks for "DBQ=" anywhere in the string, even inside our
// value, so "=" can name another file. A zero byte would end the string early. The
// trail byte of a double-byte character may be "{" or "}" (D5 7B is 調) and
// is not one of them: the pair goes to the driver as one non-ASCII
// character. A lead byte before anything else stands alone.
bool FitsInConnectString(std::string_view path) {
  for (size_t i = 0; i < path.size(); ++i) {
    auto c = static_cast<unsigned char>(path[i]);
    if (platform::IsGbkLeadByte(c) && i + 1 < path.size()) {
      auto trail = static_cast<unsigned char>(path[i + 1]);
      if (trail >= 0x40 && trail <= 0xFE && trail != 0x7F) {
        ++i;
        continue;
      }
    }
    if (c == ';' || c == '{' || c == '}' || c == '=' || c == '\0') {
      return false;
    }
  }
  return true;
}

}  // namespace

int32_t GetDatabaseFileType(const std::string& path, DatabaseFileType& type) {
  std::string name = GbkToLower(GetFileNameFromPath(path));
  type = DatabaseFileType::kUnknown;
  for (const TypeByText& t : kTypesByText) {
    if (name.find(t.text) != std::string::npos) {
      type = t.type;
      return kDbOk;
    }
  }
  return kDbUnknownType;
}

int32_t FindOdbcDriver(std::vector<std::string>& drivers, const std::string& path,
                       std::string* error) {
  // A dot is never the trail byte of a double-byte character, so a byte
  // search finds the real last dot.
  std::string name = GetFileNameFromPath(path);
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) {
    SetError(error, kTextNoExtension);
    return kDbUnknownType;
  }
  std::string extension = GbkToLower(std::string_view(name).substr(dot));
  if (extension.size() > 4) extension.erase(0, 1);

  std::vector<char> list(kDriverListBytes, '\0');
  WORD used = 0;
  if (!SQLGetInstalledDrivers(list.data(), static_cast<WORD>(list.size() - 1), &used)) {
    SetError(error, kTextCannotListDrivers);
    return kDbUnknownType;
  }
  const char* end = list.data() + list.size() - 1;
  for (const char* driver = list.data(); driver < end && *driver != '\0';
       driver += std::strlen(driver) + 1) {
    if (AsciiToLower(driver).find(extension) != std::string::npos) {
      drivers.emplace_back(driver);
      return kDbOk;
    }
  }
  SetError(error, kTextNoMatchingDriver);
  return kDbUnknownType;
}

int32_t BuildConnectString(std::string& connect, const std::string& path, std::string* error) {
  DatabaseFileType type;
  if (GetDatabaseFileType(path, type) != kDbOk) {
    SetError(error, kTextCannotDetermineType);
    return kDbUnknownType;
  }
  // An SQLite string names its driver itself, so no lookup can change it;
  // a missing driver shows when the connection is opened.
  std::vector<std::string> drivers;
  if (type != DatabaseFileType::kSqlite && FindOdbcDriver(drivers, path, error) != kDbOk) {
    return kDbNoDriver;
  }
  // The path reaches us from web pages; it must not add attributes of its
  // own. Refused as a file that cannot be opened, before any string is made.
  if (!FitsInConnectString(path)) {
    SetError(error, kTextCannotOpen);
    return kDbOpenFailed;
  }
  const char* driver = drivers.empty() ? "" : drivers.front().c_str();
  const char* file = path.c_str();
  switch (type) {
    case DatabaseFileType::kExcel:
      connect =
          FormatText("Driver={%s};DSN='';FIRSTROWHASNAMES=1;READONLY=FALSE;CREATE_DB=%s;DBQ=%s",
                     driver, file, file);
      return kDbOk;
    case DatabaseFileType::kAccess:
      // "DBQ" in capitals: keywords are case-blind for ODBC, but the MDB Tools
      // driver finds its database only under this spelling.
      connect = FormatText("Driver={%s};READONLY=FALSE;CREATE_DB=%s;DBQ=%s;Uid=;Pwd=", driver, file,
                           file);
      return kDbOk;
    case DatabaseFileType::kDbase:
      connect =
          FormatText("Driver={%s};DriverID=277;Dbq=%s;", driver, GetParentDirectory(path).c_str());
      return kDbOk;
    case DatabaseFileType::kText:
      connect = FormatText("Driver={%s};Dbq=%s;Extensions=asc,csv,tab,txt;", driver,
                           GetParentDirectory(path).c_str());
      return kDbOk;
    case DatabaseFileType::kSqlite:
      // NoCreat=1: reading a file that is not there must not leave a new,
      // empty database behind; the open fails instead. StepAPI=0 makes the
      // driver read the whole result into memory of its own before the
      // first row (235 MiB for a million rows of six short columns); 1 would
      // step through the rows, but the string is the service's own.
      connect = FormatText(
          "DRIVER=SQLite3 ODBC Driver;Database=%s;LongNames=0;Timeout=1000;NoTXN=0;"
          "SyncPragma=NORMAL;StepAPI=0;NoCreat=1;",
          file);
      return kDbOk;
    case DatabaseFileType::kUnknown:
      break;
  }
  SetError(error, kTextUnknownFileType);
  return kDbUnknownType;
}
