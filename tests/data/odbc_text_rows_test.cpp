// Rows read through bound columns must be what SQLGetData alone reads,
// value by value, through the real SQLite driver.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/database_file_type.h"
#include "data/odbc_database.h"
#include "data/odbc_statement.h"
#include "tests/support/odbc_sandbox.h"

namespace {

using testing_support::MakeSqliteFile;

class OdbcTextRowsTest : public testing_support::OdbcSandbox {
 protected:
  std::vector<std::string> ReadAll(const std::string& sql, OdbcTextRows::Reading reading) {
    std::string connect;
    EXPECT_EQ(BuildConnectString(connect, Path("t.db"), nullptr), 0);
    CDatabase_Fixbug database;
    EXPECT_TRUE(database.OpenEx(connect));
    OdbcStatement statement(database.handle());
    statement.ExecDirect(sql);
    auto columns = static_cast<SQLUSMALLINT>(statement.ColumnCount());
    OdbcTextRows rows(statement, columns, reading);
    std::vector<std::string> values;
    while (rows.Next()) {
      for (SQLUSMALLINT column = 1; column <= columns; ++column) {
        std::string_view value = rows.Text(column);
        EXPECT_EQ(value.data()[value.size()], '\0');
        values.emplace_back(value);
      }
    }
    return values;
  }
};

TEST_F(OdbcTextRowsTest, BoundColumnsReadWhatSqlGetDataReads) {
  // Lengths around the 128-byte buffer, several long values in one row,
  // NULLs, empty texts, numbers and a zero byte inside a value.
  std::string script = "create table t(a, b, c, d);";
  for (int length : {0, 1, 126, 127, 128, 129, 300, 70000}) {
    std::string n = std::to_string(length);
    auto text_of = [&n](const char* letter) {
      return "substr(replace(hex(zeroblob(" + n + ")), '0', '" + letter + "'), 1, " + n + ")";
    };
    // Chinese text of three bytes a character, around the same lengths.
    script += "insert into t values(" + text_of("a") + ", NULL, " + n + " * 0.25, substr(" +
              text_of(reinterpret_cast<const char*>(u8"学")) + ", 1, " +
              std::to_string(length / 3 + 1) + "));";
    script += "insert into t values('', 'x' || char(0) || 'y', " + text_of("z") + ", -" + n + ");";
  }
  ASSERT_EQ(MakeSqliteFile(Path("t.db"), script), "");
  std::vector<std::string> bound = ReadAll("select * from t", OdbcTextRows::Reading::kBound);
  std::vector<std::string> one_by_one =
      ReadAll("select * from t", OdbcTextRows::Reading::kGetData);
  ASSERT_EQ(bound.size(), 16u * 4);
  ASSERT_EQ(one_by_one.size(), bound.size());
  for (size_t i = 0; i < bound.size(); ++i) {
    EXPECT_TRUE(bound[i] == one_by_one[i]) << "value " << i << ": " << bound[i].size() << " and "
                                           << one_by_one[i].size() << " bytes";
  }
  // And they are the values: the rows of length 128 and 70000.
  EXPECT_EQ(bound[8 * 4], std::string(128, 'a'));
  EXPECT_EQ(bound[9 * 4 + 2], std::string(128, 'z'));
  EXPECT_TRUE(bound[14 * 4] == std::string(70000, 'a'));
  EXPECT_EQ(bound[14 * 4 + 1], "");
  EXPECT_EQ(bound[14 * 4 + 2], "17500.0");
  EXPECT_TRUE(bound[15 * 4 + 2] == std::string(70000, 'z'));
  EXPECT_EQ(bound[15 * 4 + 3], "-70000");
}

}  // namespace
