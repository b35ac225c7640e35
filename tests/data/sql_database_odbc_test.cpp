// CSQLDatabase_ODBC on real SQLite files through the real SQLite ODBC
// driver and driver manager.
#include "data/sql_database_odbc.h"

#include <cJSON.h>
#include <gtest/gtest.h>

#include "data/database_codes.h"
#include "data/database_file_type.h"
#include "platform/codepage.h"
#include "tests/support/odbc_sandbox.h"

namespace {

using testing_support::MakeSqliteFile;

std::string Utf8(const char8_t* text) {
  return reinterpret_cast<const char*>(text);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}
bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A dataset text read back the way a page reads it: as UTF-8 JSON.
struct ParsedDataset {
  std::string rows;
  std::vector<std::string> names;
  std::vector<std::string> data;  // code page 936, like the text itself
};

ParsedDataset Parse(const DatasetText& text) {
  ParsedDataset parsed;
  cJSON* root = cJSON_Parse(platform::GbkToUtf8(text.view()).c_str());
  EXPECT_NE(root, nullptr) << text.view();
  if (root == nullptr) return parsed;
  parsed.rows = cJSON_GetStringValue(cJSON_GetObjectItem(root, "Rows"));
  cJSON* item = nullptr;
  cJSON_ArrayForEach(item, cJSON_GetObjectItem(root, "ColumnName")) {
    parsed.names.push_back(platform::Utf8ToGbk(cJSON_GetStringValue(item)));
  }
  cJSON_ArrayForEach(item, cJSON_GetObjectItem(root, "Data")) {
    parsed.data.push_back(platform::Utf8ToGbk(cJSON_GetStringValue(item)));
  }
  cJSON_Delete(root);
  return parsed;
}

class SqlDatabaseOdbcTest : public testing_support::OdbcSandbox {
 protected:
  // Makes an SQLite file from a UTF-8 script and opens it.
  void OpenNew(const std::string& name, const std::string& script_utf8) {
    path_ = Path(name);
    ASSERT_EQ(MakeSqliteFile(path_, script_utf8), "");
    std::string connect;
    ASSERT_EQ(BuildConnectString(connect, path_, nullptr), kDbOk);
    std::string error;
    ASSERT_EQ(db_.Open(connect, &error), kDbOk) << error;
    EXPECT_EQ(db_.driver_kind(), 1);
  }
  DatasetText Query(const std::string& sql) {
    DatasetText text;
    std::string error;
    EXPECT_EQ(db_.GetDataset(sql, &text, &error), kDbOk) << error;
    return text;
  }

  std::string path_;
  CSQLDatabase_ODBC db_;
};

constexpr char kTwoRows[] =
    "create table t(id integer, name text);"
    "insert into t values(1, 'a'), (2, 'b');";

TEST_F(SqlDatabaseOdbcTest, TwoColumnsTwoRows) {
  OpenNew("t.db", kTwoRows);
  DatasetText text = Query("select * from t");
  const std::string expected =
      "{\r\n\t\"Rows\":\"2\"       ,\r\n\t\"Columns\":\"2\",\r\n\t\"ColumnName\":"
      "[\"id\",\"name\"],\"Data\":[\"1\",\"a\",\"2\",\"b\"]\r\n}";
  EXPECT_EQ(text.view(), expected);
  EXPECT_EQ(text.length, expected.size() + 1);
}

TEST_F(SqlDatabaseOdbcTest, EmptyResult) {
  OpenNew("t.db", kTwoRows);
  EXPECT_EQ(Query("select id, name from t where id > 5").view(),
            "{\r\n\t\"Rows\":\"0\"       ,\r\n\t\"Columns\":\"2\",\r\n\t\"ColumnName\":"
            "[\"id\",\"name\"],\"Data\":[]\r\n}");
}

TEST_F(SqlDatabaseOdbcTest, ValuesAreConvertedAndEscaped) {
  OpenNew("t.db", Utf8(u8"create table 学生(名字 text, v);"
                       u8"insert into 学生 values('say \"hi\"', 'C:\\dir\\');"
                       u8"insert into 学生 values('two' || char(13, 10) || 'lines', "
                       u8"  'tab' || char(9) || 'end');"
                       u8"insert into 学生 values('中文', '乗誠');"
                       u8"insert into 学生 values(NULL, 2.5);"));
  DatasetText text = Query("select * from 学生");
  ParsedDataset parsed = Parse(text);
  EXPECT_EQ(parsed.rows, "4");
  EXPECT_EQ(parsed.names, (std::vector<std::string>{"名字", "v"}));
  EXPECT_EQ(parsed.data, (std::vector<std::string>{"say \"hi\"", "C:\\dir\\", "two\r\nlines",
                                                   "tab\tend", "中文", "乗誠", "", "2.5"}));
  // The text itself: escapes as JSON wants them, and the trail byte 0x5C of
  // 乗 and 誠 without a backslash put before it.
  const std::string raw(text.view());
  for (const char* part : {"\"say \\\"hi\\\"\"", "\"C:\\\\dir\\\\\"", "\"two\\r\\nlines\"",
                           "\"tab\\tend\"", "\"\x81\x5C\xD5\x5C\"", "\"\""}) {
    EXPECT_NE(raw.find(part), std::string::npos) << part;
  }
}

TEST_F(SqlDatabaseOdbcTest, OnlyStatementsBeginningWithSelectAreQueries) {
  OpenNew("t.db", kTwoRows);
  const struct {
    std::string sql;
    bool query;
  } kCases[] = {
      {"SELECT * FROM t", true},
      {"\r\n\r\n  \t select id from t", true},
      {"SeLeCt name from t", true},
      {"-- names\nselect name from t", false},
      {"with x as (select 1) select * from x", false},
      {"  ", false},
  };
  for (const auto& c : kCases) {
    DatasetText text;
    text.length = 99;
    std::string error;
    EXPECT_EQ(db_.GetDataset(c.sql, &text, &error), kDbOk) << c.sql << ": " << error;
    EXPECT_EQ(text.length != 0, c.query) << c.sql;
  }
}

TEST_F(SqlDatabaseOdbcTest, StatementsThatAreNotQueriesRun) {
  OpenNew("t.db", kTwoRows);
  DatasetText text;
  std::string error;
  EXPECT_EQ(db_.GetDataset("insert into t values(3, '丙')", &text, &error), kDbOk) << error;
  EXPECT_EQ(text.length, 0u);
  EXPECT_EQ(db_.Execute("update t set name = '乙' where id = 2", &error), kDbOk) << error;
  // Nothing matches: still a success.
  EXPECT_EQ(db_.Execute("delete from t where id = 42", &error), kDbOk) << error;
  EXPECT_EQ(Parse(Query("select name from t order by id")).data,
            (std::vector<std::string>{"a", "乙", "丙"}));
}

TEST_F(SqlDatabaseOdbcTest, FailingStatementsNameTheirCodeAndText) {
  OpenNew("t.db", kTwoRows);
  DatasetText text;
  std::string error;
  EXPECT_EQ(db_.GetDataset("select * from 缺失", &text, &error), kDbStatementFailed + SQL_ERROR);
  EXPECT_EQ(text.length, 0u);
  EXPECT_TRUE(StartsWith(error, "DB getdataset error: -1,错误信息：")) << error;
  EXPECT_NE(error.find("no such table: 缺失"), std::string::npos) << error;
  EXPECT_TRUE(EndsWith(error, ",SQL:select * from 缺失")) << error;

  EXPECT_EQ(db_.Execute("insert into 缺失 values(1)", &error), kDbStatementFailed + SQL_ERROR);
  EXPECT_TRUE(StartsWith(error, "Error:Execute SQL, 错误代码：-1,错误信息：")) << error;
  EXPECT_NE(error.find("no such table: 缺失"), std::string::npos) << error;
  EXPECT_TRUE(EndsWith(error, ",SQL:insert into 缺失 values(1)")) << error;

  // The error text output may be absent.
  EXPECT_EQ(db_.GetDataset("select nonsense(", nullptr, nullptr), kDbStatementFailed + SQL_ERROR);
}

TEST_F(SqlDatabaseOdbcTest, ListsTablesAndViews) {
  OpenNew("t.db",
          Utf8(u8"create table b(x); create table 学生(y); create view v as select x from b;"));
  std::vector<std::string> tables;
  EXPECT_EQ(db_.ListTables(tables, nullptr), kDbOk);
  std::sort(tables.begin(), tables.end());
  EXPECT_EQ(tables, (std::vector<std::string>{"b", "v", "学生"}));
}

TEST_F(SqlDatabaseOdbcTest, LongValuesAndManyRowsArriveWhole) {
  OpenNew("t.db",
          "create table t(id integer, v text);"
          "insert into t values(1, replace(hex(zeroblob(300000)), '0', '\"'));"
          "with recursive c(i) as (select 2 union all select i + 1 from c where i < 30000)"
          "  insert into t select i, 'row ' || i from c;");
  ParsedDataset parsed = Parse(Query("select * from t order by id"));
  EXPECT_EQ(parsed.rows, "30000");
  ASSERT_EQ(parsed.data.size(), 60000u);
  EXPECT_EQ(parsed.data[1], std::string(600000, '"'));
  EXPECT_EQ(parsed.data[59998], "30000");
  EXPECT_EQ(parsed.data[59999], "row 30000");
}

// Values are fetched into buffers of 128 bytes and read again when longer:
// lengths around that size, in several columns of one row, in ASCII and in
// Chinese text whose UTF-8 crosses the mark.
TEST_F(SqlDatabaseOdbcTest, ValuesAroundTheFetchBufferSizeArriveWhole) {
  OpenNew("t.db", "create table t(a text, b text, c text);");
  std::vector<std::string> expected;
  std::string insert;
  const std::string kChinese = Utf8(u8"学");  // three bytes of UTF-8, two of code page 936
  int row = 0;
  for (size_t length : {1u, 126u, 127u, 128u, 129u, 255u, 256u, 1000u, 70000u}) {
    std::string ascii(length, static_cast<char>('a' + row % 26));
    std::string chinese_utf8;
    std::string chinese;
    for (size_t i = 0; i < length / 3 + 1; ++i) {
      chinese_utf8 += kChinese;
      chinese += "学";
    }
    insert += "insert into t values('" + ascii + "', NULL, '" + chinese_utf8 + "');";
    insert += "insert into t values('x', '" + chinese_utf8 + "', '" + ascii + "');";
    expected.insert(expected.end(), {ascii, "", chinese, "x", chinese, ascii});
    ++row;
  }
  ASSERT_EQ(MakeSqliteFile(path_, insert), "");
  ParsedDataset parsed = Parse(Query("select * from t"));
  EXPECT_EQ(parsed.rows, std::to_string(expected.size() / 3));
  ASSERT_EQ(parsed.data.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(parsed.data[i], expected[i]) << "value " << i << " of length " << expected[i].size();
  }
}

// Rows are read as they are fetched, so a value that cannot be computed may
// fail a query after rows have been written: the query fails as a whole,
// and text that was there before is left as it was.
TEST_F(SqlDatabaseOdbcTest, AQueryThatFailsPartWayLeavesNoText) {
  OpenNew("t.db",
          "create table t(x integer);"
          "insert into t values(1), (2), (-9223372036854775808), (4);");
  GrowingText text;
  text.Append("before");
  std::string error;
  EXPECT_EQ(db_.AppendDataset("select x, abs(x) from t", text, &error),
            kDbStatementFailed + SQL_ERROR);
  EXPECT_TRUE(StartsWith(error, "DB getdataset error: -1,错误信息：")) << error;
  EXPECT_NE(error.find("integer overflow"), std::string::npos) << error;
  EXPECT_TRUE(EndsWith(error, ",SQL:select x, abs(x) from t")) << error;
  EXPECT_EQ(std::string(text.data(), text.size()), "before");

  // A query appends its dataset text, a statement nothing.
  EXPECT_EQ(db_.AppendDataset("select x from t where x > 3", text, &error), kDbOk) << error;
  EXPECT_EQ(db_.AppendDataset("delete from t where x = 4", text, &error), kDbOk) << error;
  EXPECT_EQ(text.Release().view(),
            "before{\r\n\t\"Rows\":\"1\"       ,\r\n\t\"Columns\":\"1\",\r\n\t\"ColumnName\":"
            "[\"x\"],\"Data\":[\"4\"]\r\n}");
}

TEST_F(SqlDatabaseOdbcTest, ReopeningConnectsToTheNewFile) {
  OpenNew("first.db", "create table first(x);");
  OpenNew("second.db", "create table second(x);");
  std::vector<std::string> tables;
  EXPECT_EQ(db_.ListTables(tables, nullptr), kDbOk);
  EXPECT_EQ(tables, std::vector<std::string>{"second"});
}

TEST(SqlDatabaseOdbcClosedTest, OperationsNeedAnOpenConnection) {
  CSQLDatabase_ODBC db;
  std::vector<std::string> tables;
  DatasetText text;
  EXPECT_EQ(db.Execute("create table t(x)", nullptr), kDbNotOpen);
  EXPECT_EQ(db.GetDataset("select 1", &text, nullptr), kDbNotOpen);
  EXPECT_EQ(db.ListTables(tables, nullptr), kDbNotOpen);
}

TEST_F(SqlDatabaseOdbcTest, MissingFileIsAnOpenErrorAndIsNotCreated) {
  std::string connect;
  ASSERT_EQ(BuildConnectString(connect, Path("missing.db"), nullptr), kDbOk);
  std::string error;
  EXPECT_EQ(db_.Open(connect, &error), kDbOpenFailed);
  EXPECT_TRUE(StartsWith(
      error, "Error:Open database,ConnectString:" + connect + ", 错误代码：-1,错误信息："))
      << error;
  EXPECT_FALSE(Exists("missing.db"));
}

}  // namespace
