// ReadDatabaseFileJson on real files through the real drivers, read back as
// a page reads it: UTF-8 JSON.
#include "data/database_file_json.h"

#include <cJSON.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "data/database_codes.h"
#include "platform/codepage.h"
#include "tests/support/odbc_sandbox.h"

namespace {

using testing_support::MakeSqliteFile;

std::string Utf8(const char8_t* text) {
  return reinterpret_cast<const char*>(text);
}

// Owns the parsed answer; strings handed out are code page 936.
class Answer {
 public:
  explicit Answer(const std::string& json)
      : root_(cJSON_Parse(platform::GbkToUtf8(json).c_str())) {}
  ~Answer() { cJSON_Delete(root_); }
  Answer(const Answer&) = delete;
  Answer& operator=(const Answer&) = delete;

  bool valid() const { return root_ != nullptr; }
  std::string Text(const char* name) const { return TextOf(cJSON_GetObjectItem(root_, name)); }
  cJSON* Tables() const { return cJSON_GetObjectItem(root_, "DBData"); }
  static std::string TextOf(const cJSON* item) {
    const char* text = cJSON_GetStringValue(item);
    return text == nullptr ? "<none>" : platform::Utf8ToGbk(text);
  }
  // The TableName of each entry, and its data rows or "" for an empty string.
  std::vector<std::string> TableNames() const {
    std::vector<std::string> names;
    const cJSON* table = nullptr;
    cJSON_ArrayForEach(table, Tables()) {
      names.push_back(TextOf(cJSON_GetObjectItem(table, "TableName")));
    }
    return names;
  }

 private:
  cJSON* root_;
};

class ReadDatabaseFileJsonTest : public testing_support::OdbcSandbox {
 protected:
  std::string MakeFile(const std::string& name, const std::string& script_utf8) {
    std::string path = Path(name);
    EXPECT_EQ(MakeSqliteFile(path, script_utf8), "");
    return platform::Utf8ToGbk(path);
  }
};

constexpr char kSchool[] =
    "create table pupils(id integer, name text);"
    "insert into pupils values(1, 'a'), (2, 'b');"
    "create table classes(name text);";

TEST_F(ReadDatabaseFileJsonTest, WholeFileListsEveryTableWithItsRows) {
  std::string path = MakeFile("school.db", kSchool);
  std::string json = ReadDatabaseFileJson(path, false, "");
  EXPECT_EQ(json.rfind("{\"FileName\":\"" + path + "\",\"DBName\":\"" + path +
                           "\",\"DBData\":[\t{\t\"TableName\":\"",
                       0),
            0u)
      << json;
  EXPECT_TRUE(json.ends_with("}\r\n],\"Error\":\"0\",\"ErrorString\":\"\"\r\n}")) << json;

  Answer answer(json);
  ASSERT_TRUE(answer.valid()) << json;
  EXPECT_EQ(answer.Text("FileName"), path);
  EXPECT_EQ(answer.Text("DBName"), path);
  EXPECT_EQ(answer.Text("Error"), "0");
  EXPECT_EQ(answer.Text("ErrorString"), "");
  std::vector<std::string> names = answer.TableNames();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"classes", "pupils"}));
  const cJSON* table = nullptr;
  cJSON_ArrayForEach(table, answer.Tables()) {
    const cJSON* data = cJSON_GetObjectItem(table, "TableData");
    bool pupils = Answer::TextOf(cJSON_GetObjectItem(table, "TableName")) == "pupils";
    EXPECT_EQ(Answer::TextOf(cJSON_GetObjectItem(data, "Rows")), pupils ? "2" : "0");
    EXPECT_EQ(cJSON_GetArraySize(cJSON_GetObjectItem(data, "Data")), pupils ? 4 : 0);
  }
}

TEST_F(ReadDatabaseFileJsonTest, NamesOnlyGivesEmptyTableData) {
  std::string path = MakeFile("school.db", kSchool);
  std::string json = ReadDatabaseFileJson(path, true, "");
  EXPECT_NE(json.find("\"TableName\":\"pupils\",\t\t\"TableData\":\"\"}"), std::string::npos)
      << json;
  Answer answer(json);
  ASSERT_TRUE(answer.valid()) << json;
  EXPECT_EQ(answer.TableNames().size(), 2u);
  const cJSON* table = nullptr;
  cJSON_ArrayForEach(table, answer.Tables()) {
    EXPECT_EQ(Answer::TextOf(cJSON_GetObjectItem(table, "TableData")), "");
  }
}

TEST_F(ReadDatabaseFileJsonTest, AStatementIsTheOneEntry) {
  std::string path = MakeFile("school.db", kSchool);
  // The names-only flag does not apply to a statement.
  for (bool names_only : {false, true}) {
    Answer answer(ReadDatabaseFileJson(path, names_only, "select name from pupils where id = 2"));
    ASSERT_TRUE(answer.valid());
    EXPECT_EQ(answer.TableNames(), std::vector<std::string>{""});
    const cJSON* data = cJSON_GetObjectItem(cJSON_GetArrayItem(answer.Tables(), 0), "TableData");
    EXPECT_EQ(Answer::TextOf(cJSON_GetArrayItem(cJSON_GetObjectItem(data, "Data"), 0)), "b");
  }
  // A statement that is not a query runs and answers no rows.
  Answer changed(ReadDatabaseFileJson(path, false, "delete from pupils"));
  ASSERT_TRUE(changed.valid());
  EXPECT_EQ(changed.Text("Error"), "0");
  EXPECT_EQ(
      Answer::TextOf(cJSON_GetObjectItem(cJSON_GetArrayItem(changed.Tables(), 0), "TableData")),
      "");
  Answer after(ReadDatabaseFileJson(path, false, "select count(*) from pupils"));
  const cJSON* data = cJSON_GetObjectItem(cJSON_GetArrayItem(after.Tables(), 0), "TableData");
  EXPECT_EQ(Answer::TextOf(cJSON_GetArrayItem(cJSON_GetObjectItem(data, "Data"), 0)), "0");
}

TEST_F(ReadDatabaseFileJsonTest, AFailingQueryReplacesTheWholeAnswer) {
  // The view is listed, but reading it fails: its table is gone.
  std::string path = MakeFile("broken.db",
                              "create table a(x); create table b(y); insert into b values(1);"
                              "create view v as select x from a; drop table a;");
  std::string json = ReadDatabaseFileJson(path, false, "");
  EXPECT_EQ(json.find("DBData"), std::string::npos) << json;
  const std::string head =
      "{\"FileName\":\"" + path + "\",\"DBName\":\"" + path +
      "\"\r\n,\"Error\":\"1003199\",\"ErrorString\":\"DB getdataset error: -1,";
  EXPECT_EQ(json.rfind(head, 0), 0u) << json;
  EXPECT_TRUE(json.ends_with(",SQL:select * from [v]\"\r\n}")) << json;
  Answer answer(json);
  EXPECT_TRUE(answer.valid()) << json;
  // Names only reads no table, so it succeeds.
  EXPECT_EQ(Answer(ReadDatabaseFileJson(path, true, "")).Text("Error"), "0");
}

// The answer in its own buffer, for large answers, is the same text with
// the same code and error, on success and on failure.
TEST_F(ReadDatabaseFileJsonTest, TheBufferFormGivesTheSameAnswer) {
  std::string school = MakeFile("school.db", kSchool);
  const struct {
    std::string path;
    bool names_only;
    std::string statement;
  } kCases[] = {
      {school, false, ""},
      {school, true, ""},
      {school, false, "select name from pupils order by id"},
      {school, false, "update pupils set name = 'c' where id = 1"},
      {school, false, "select * from missing"},
      {Path("gone.db"), false, ""},
      {"/d/notes.md", false, ""},
  };
  for (const auto& c : kCases) {
    std::string json;
    std::string error;
    int32_t code = ReadDatabaseFile(c.path, c.names_only, c.statement, json, &error);
    DatasetText buffer;
    std::string buffer_error;
    EXPECT_EQ(ReadDatabaseFile(c.path, c.names_only, c.statement, buffer, &buffer_error), code);
    EXPECT_EQ(buffer.view(), json) << c.statement;
    EXPECT_EQ(buffer.length, json.size() + 1);
    EXPECT_EQ(buffer_error, error);
  }
}

TEST_F(ReadDatabaseFileJsonTest, FilesThatCannotBeReadAnswerTheirError) {
  WriteFile("notes.md", "# notes");
  WriteFile("report.xlsx", "not really");
  const struct {
    std::string path;
    std::string json;
  } kCases[] = {
      {"/d/notes.md",
       "{\"FileName\":\"/d/notes.md\",\"DBName\":\"/d/notes.md\"\r\n,\"Error\":\"1001003\","
       "\"ErrorString\":\"无法确定数据库类型\"\r\n}"},
      {"/d/db",
       "{\"FileName\":\"/d/db\",\"DBName\":\"/d/db\"\r\n,\"Error\":\"1001003\","
       "\"ErrorString\":\"无法确定数据库类型\"\r\n}"},
      // No Excel driver exists here.
      {"/d/report.xlsx",
       "{\"FileName\":\"/d/report.xlsx\",\"DBName\":\"/d/report.xlsx\"\r\n,\"Error\":\"1002008\","
       "\"ErrorString\":\"没有找到相关的ODBC驱动\"\r\n}"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ReadDatabaseFileJson(c.path, false, ""), c.json);
    std::string json;
    std::string error;
    EXPECT_NE(ReadDatabaseFile(c.path, false, "", json, &error), kDbOk);
    EXPECT_FALSE(error.empty());
  }
}

// A path from a page must not add attributes to the connection string. Each
// of these files exists; without the refusal the first would open pub.db, the
// second would create "x" (NoCreat=0 comes first), the third would load a
// library of the page's choosing, and the others would open as named.
TEST_F(ReadDatabaseFileJsonTest, PathsThatWouldAddAttributesAreRefused) {
  MakeFile("pub.db", kSchool);
  std::filesystem::create_directories(Path("d;NoCreat=0"));
  std::string hostile[] = {
      Path("pub.db") + ";Database=" + Path("other.db"),
      MakeFile("x;NoCreat=0;y.db", kSchool),
      MakeFile("a;DRIVER=libtomerack-none.so;b.db", kSchool),
      MakeFile("x{y}.db", kSchool),
      MakeFile("}.db", kSchool),
      MakeFile("d;NoCreat=0/t.db", kSchool),
      MakeFile("k=v.db", kSchool),
      Path("pub.db") + std::string(1, '\0') + ".db",
  };
  for (const std::string& path : hostile) {
    std::string json;
    std::string error;
    EXPECT_EQ(ReadDatabaseFile(path, false, "", json, &error), kDbOpenFailed) << path;
    EXPECT_EQ(error, kTextCannotOpen) << path;
    Answer answer(json);
    ASSERT_TRUE(answer.valid()) << json;
    EXPECT_EQ(answer.Text("Error"), "1003001") << path;
    EXPECT_EQ(answer.Text("ErrorString"), kTextCannotOpen) << path;
    EXPECT_EQ(answer.Tables(), nullptr) << json;
  }
  EXPECT_FALSE(Exists("x"));
  EXPECT_FALSE(Exists("d"));
  EXPECT_FALSE(Exists("other.db"));
}

// Spaces, Chinese text (調 and 皚 have a trail byte that is a brace in
// ASCII) and dots in directories and names still open.
TEST_F(ReadDatabaseFileJsonTest, OrdinaryPathsOpen) {
  for (const std::string& dir : {std::string("my data"), Utf8(u8"学生 名单"), Utf8(u8"皚.v1.2")}) {
    std::filesystem::create_directories(Path(dir));
  }
  const std::string kNames[] = {
      "my data/with space.db",
      Utf8(u8"学生 名单/調查 v1.2.db"),
      Utf8(u8"皚.v1.2/皚皚.final.sqlite3"),
      "dots.in.the.name.db3",
  };
  for (const std::string& name : kNames) {
    std::string path = MakeFile(name, kSchool);
    Answer answer(ReadDatabaseFileJson(path, true, ""));
    ASSERT_TRUE(answer.valid()) << name;
    EXPECT_EQ(answer.Text("Error"), "0") << name << ": " << answer.Text("ErrorString");
    EXPECT_EQ(answer.TableNames().size(), 2u) << name;
  }
}

TEST_F(ReadDatabaseFileJsonTest, MissingSqliteFileIsAnErrorAndStaysMissing) {
  Answer answer(ReadDatabaseFileJson(Path("gone.db"), false, ""));
  ASSERT_TRUE(answer.valid());
  EXPECT_EQ(answer.Text("Error"), "1003001");
  EXPECT_EQ(answer.Text("ErrorString").rfind("Error:Open database,ConnectString:", 0), 0u);
  EXPECT_FALSE(Exists("gone.db"));
}

// The MDB Tools driver is found by its ".mdb" name and opens read-only; a
// file that is no Access database is refused.
TEST_F(ReadDatabaseFileJsonTest, AccessFilesGoToTheMdbToolsDriver) {
  WriteFile("school.mdb", "not an Access database");
  std::string json;
  std::string error;
  int32_t code = ReadDatabaseFile(Path("school.mdb"), false, "", json, &error);
  if (error.find("Can't open lib") != std::string::npos) {
    GTEST_SKIP() << "the MDB Tools ODBC driver is not installed";
  }
  EXPECT_EQ(code, kDbOpenFailed) << error;
  EXPECT_EQ(error, kTextCannotOpen);
}

TEST_F(ReadDatabaseFileJsonTest, NamesAndPathsAreEscaped) {
  // A quote and Chinese text in the file name, Chinese table names.
  std::string path =
      MakeFile(Utf8(u8"学校\"记录.db"), Utf8(u8"create table 学生(名字 text);"
                                             u8"insert into 学生 values('乗\\\"');"));
  std::string json = ReadDatabaseFileJson(path, false, "");
  Answer answer(json);
  ASSERT_TRUE(answer.valid()) << json;
  EXPECT_EQ(answer.Text("FileName"), path);
  EXPECT_EQ(answer.TableNames(), std::vector<std::string>{"学生"});
  const cJSON* data = cJSON_GetObjectItem(cJSON_GetArrayItem(answer.Tables(), 0), "TableData");
  EXPECT_EQ(Answer::TextOf(cJSON_GetArrayItem(cJSON_GetObjectItem(data, "Data"), 0)), "乗\\\"");
}

// Each request has its own connection: requests on other threads at the
// same time give the same answers as one alone.
TEST_F(ReadDatabaseFileJsonTest, ConcurrentRequestsAreIndependent) {
  const std::string paths[] = {
      MakeFile("one.db", kSchool),
      MakeFile("two.db", Utf8(u8"create table t(v); insert into t values('中文'), (NULL);")),
  };
  std::string expected[2];
  for (int i = 0; i < 2; ++i) expected[i] = ReadDatabaseFileJson(paths[i], false, "");
  int mismatches[2] = {0, 0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&, i] {
      for (int round = 0; round < 20; ++round) {
        if (ReadDatabaseFileJson(paths[i], false, "") != expected[i]) ++mismatches[i];
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches[0], 0);
  EXPECT_EQ(mismatches[1], 0);
}

}  // namespace
