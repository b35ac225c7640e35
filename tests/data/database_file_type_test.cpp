// File types, driver lookup and connection strings, with the real driver
// manager reading a driver list written for each test.
#include "data/database_file_type.h"

#include <gtest/gtest.h>

#include "data/database_codes.h"
#include "tests/support/odbc_sandbox.h"

namespace {

using testing_support::SetInstalledOdbcDrivers;

TEST(GetDatabaseFileTypeTest, FirstKnownTextInTheFileNameDecides) {
  const struct {
    std::string path;
    DatabaseFileType type;
  } kCases[] = {
      {"/data/report.XLSX", DatabaseFileType::kExcel},
      {"/data/report.xls", DatabaseFileType::kExcel},
      {"/data/book.xlsm", DatabaseFileType::kExcel},
      {"/data/school.MDB", DatabaseFileType::kAccess},
      {"/data/t.dbf", DatabaseFileType::kDbase},
      {"/data/list.txt", DatabaseFileType::kText},
      {"/data/list.csv", DatabaseFileType::kText},
      {"/data/app.db", DatabaseFileType::kSqlite},
      {"/data/app.db3", DatabaseFileType::kSqlite},
      {"/data/app.Sqlite", DatabaseFileType::kSqlite},
      {"/data/app.sqlite3", DatabaseFileType::kSqlite},
      {"/data/数据.db", DatabaseFileType::kSqlite},
      // Contained, not only at the end; ".txt" is searched before ".db".
      {"/data/data.txt.db", DatabaseFileType::kText},
      {"/data/old.xls.bak", DatabaseFileType::kExcel},
      {"/data/notes.md", DatabaseFileType::kUnknown},
      {"/data/db", DatabaseFileType::kUnknown},
      // Only the file name counts, not its directories.
      {"/data/store.db/readme", DatabaseFileType::kUnknown},
  };
  for (const auto& c : kCases) {
    DatabaseFileType type = DatabaseFileType::kSqlite;
    int32_t code = GetDatabaseFileType(c.path, type);
    EXPECT_EQ(type, c.type) << c.path;
    EXPECT_EQ(code, c.type == DatabaseFileType::kUnknown ? kDbUnknownType : kDbOk) << c.path;
  }
}

class FindOdbcDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetInstalledOdbcDrivers(
        "[Test Excel Driver (*.XLS)]\nDriver=none.so\n"
        "[Test Text Driver (*.txt; *.csv)]\nDriver=none.so\n"
        "[Other Text Driver (*.txt)]\nDriver=none.so\n");
  }
};

TEST_F(FindOdbcDriverTest, MatchesTheExtensionInTheDriverNames) {
  const struct {
    std::string path;
    int32_t code;
    std::string driver_or_error;
  } kCases[] = {
      {"/data/report.xls", kDbOk, "Test Excel Driver (*.XLS)"},
      // Longer than four characters: looked up without its dot, and no name
      // here holds "xlsx".
      {"/data/report.XLSX", kDbUnknownType, kTextNoMatchingDriver},
      {"/data/list.csv", kDbOk, "Test Text Driver (*.txt; *.csv)"},
      // The first matching name wins.
      {"/data/list.txt", kDbOk, "Test Text Driver (*.txt; *.csv)"},
      {"/data/db", kDbUnknownType, kTextNoExtension},
      {"/data.d/readme", kDbUnknownType, kTextNoExtension},
      {"/data/t.dbf", kDbUnknownType, kTextNoMatchingDriver},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> drivers;
    std::string error;
    EXPECT_EQ(FindOdbcDriver(drivers, c.path, &error), c.code) << c.path;
    if (c.code == kDbOk) {
      ASSERT_EQ(drivers.size(), 1u) << c.path;
      EXPECT_EQ(drivers[0], c.driver_or_error);
    } else {
      EXPECT_TRUE(drivers.empty());
      EXPECT_EQ(error, c.driver_or_error) << c.path;
    }
  }
}

TEST_F(FindOdbcDriverTest, ErrorTextMayBeAbsent) {
  std::vector<std::string> drivers;
  EXPECT_EQ(FindOdbcDriver(drivers, "/data/t.dbf", nullptr), kDbUnknownType);
}

TEST(BuildConnectStringTest, EachTypeHasItsString) {
  SetInstalledOdbcDrivers(
      "[Test Excel (*.xls)]\nDriver=none.so\n"
      "[Test Access (*.mdb)]\nDriver=none.so\n"
      "[Test dBase (*.dbf)]\nDriver=none.so\n"
      "[Test Text (*.txt, *.csv)]\nDriver=none.so\n");
  const struct {
    std::string path;
    std::string connect;
  } kCases[] = {
      {"/d/r.xls",
       "Driver={Test Excel (*.xls)};DSN='';FIRSTROWHASNAMES=1;READONLY=FALSE;CREATE_DB=/d/r.xls;"
       "DBQ=/d/r.xls"},
      {"/d/s.mdb",
       "Driver={Test Access (*.mdb)};READONLY=FALSE;CREATE_DB=/d/s.mdb;DBQ=/d/s.mdb;Uid=;Pwd="},
      // dBase and text tables name their directory, not the file.
      {"/data/t.dbf", "Driver={Test dBase (*.dbf)};DriverID=277;Dbq=/data;"},
      {"/data/sub/l.csv",
       "Driver={Test Text (*.txt, *.csv)};Dbq=/data/sub;Extensions=asc,csv,tab,txt;"},
      {"/data/学生.db",
       "DRIVER=SQLite3 ODBC Driver;Database=/data/学生.db;LongNames=0;Timeout=1000;NoTXN=0;"
       "SyncPragma=NORMAL;StepAPI=0;NoCreat=1;"},
  };
  for (const auto& c : kCases) {
    std::string connect;
    std::string error;
    EXPECT_EQ(BuildConnectString(connect, c.path, &error), kDbOk) << c.path << ": " << error;
    EXPECT_EQ(connect, c.connect);
  }
}

// The path comes from web pages: bytes that the driver manager or a driver
// would read as attributes of their own are refused for every type, before
// any connection string is made.
TEST(BuildConnectStringTest, RefusesPathsThatWouldAddAttributes) {
  SetInstalledOdbcDrivers(
      "[Test Excel (*.xls)]\nDriver=none.so\n"
      "[Test Access (*.mdb)]\nDriver=none.so\n"
      "[Test dBase (*.dbf)]\nDriver=none.so\n"
      "[Test Text (*.txt, *.csv)]\nDriver=none.so\n");
  const std::string kHostile[] = {
      "/d/a;DRIVER=/tmp/evil.so;b.db",
      "/d/a.db;Database=/d/other.db",
      "/d/x;NoCreat=0;y.db",
      "/d/x{y}.mdb",
      "/d/}.db",
      "/d/{a}.xls",
      "/d/dir;Dbq=/etc/t.dbf",
      "/d;x/list.csv",
      "/d/DBQ=other.mdb",
      "/d/k=v.sqlite",
      std::string("/d/a.db\0.db", 11),
      // A lead byte followed by no valid trail byte stands alone.
      "/d/\xD5;x.db",
  };
  for (const std::string& path : kHostile) {
    std::string connect = "untouched";
    std::string error;
    EXPECT_EQ(BuildConnectString(connect, path, &error), kDbOpenFailed) << path;
    EXPECT_EQ(error, kTextCannotOpen) << path;
    EXPECT_EQ(connect, "untouched") << path;
  }
  // The trail byte of a double-byte character is not a brace: 調 is D5 7B,
  // 皚 is B0 7D.
  const std::string kOrdinary[] = {
      "/d/\xD5\x7B\xB2\xE9.db",
      "/d/\xB0\x7D/list.csv",
      "/d/my data/v1.2 final.mdb",
  };
  for (const std::string& path : kOrdinary) {
    std::string connect;
    std::string error;
    EXPECT_EQ(BuildConnectString(connect, path, &error), kDbOk) << path << ": " << error;
  }
}

TEST(BuildConnectStringTest, FailsWithoutTypeOrDriver) {
  SetInstalledOdbcDrivers("[Unrelated Driver]\nDriver=none.so\n");
  const struct {
    std::string path;
    int32_t code;
    std::string error;
  } kCases[] = {
      {"/d/notes.md", kDbUnknownType, kTextCannotDetermineType},
      {"/d/db", kDbUnknownType, kTextCannotDetermineType},
      {"/d/report.xlsx", kDbNoDriver, kTextNoMatchingDriver},
      {"/d/t.dbf", kDbNoDriver, kTextNoMatchingDriver},
  };
  for (const auto& c : kCases) {
    std::string connect;
    std::string error;
    EXPECT_EQ(BuildConnectString(connect, c.path, &error), c.code) << c.path;
    EXPECT_EQ(error, c.error) << c.path;
  }
  // An SQLite string names its driver itself: no lookup is needed for it.
  std::string connect;
  EXPECT_EQ(BuildConnectString(connect, "/d/a.sqlite", nullptr), kDbOk);
  EXPECT_NE(connect.find("DRIVER=SQLite3 ODBC Driver;Database=/d/a.sqlite;"), std::string::npos);
}

}  // namespace
