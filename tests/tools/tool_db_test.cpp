// tomerack-tool db as deployers run it: a separate process with its own
// ODBC driver list, on real SQLite files.
#include <cJSON.h>
#include <gtest/gtest.h>

#include "tests/support/odbc_sandbox.h"
#include "tests/support/run_command.h"

namespace {

using testing_support::CommandResult;
using testing_support::RunCommand;

std::string Utf8(const char8_t* text) {
  return reinterpret_cast<const char*>(text);
}

class ToolDbTest : public testing_support::Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    InstallDrivers(testing_support::kSqliteDriverEntry);
    ASSERT_EQ(testing_support::MakeSqliteFile(
                  Path("school.db"), Utf8(u8"create table 学生(id integer, 名字 text);"
                                          u8"insert into 学生 values(1, '张三'), (2, '乗\\');"
                                          u8"create table empty(x);")),
              "");
  }
  void InstallDrivers(const std::string& odbcinst_ini) {
    WriteFile("odbc/odbcinst.ini", odbcinst_ini);
  }
  CommandResult Tool(const std::vector<std::string>& args) {
    return RunCommand(TOMERACK_TOOL_PATH, args, {}, {{"ODBCSYSINI", Path("odbc")}});
  }
};

// The answer on stdout parsed as the UTF-8 JSON it must be.
class Parsed {
 public:
  explicit Parsed(const std::string& utf8) : root_(cJSON_Parse(utf8.c_str())) {}
  ~Parsed() { cJSON_Delete(root_); }
  Parsed(const Parsed&) = delete;
  Parsed& operator=(const Parsed&) = delete;
  cJSON* root() const { return root_; }
  std::string Text(const char* name) const {
    const char* text = cJSON_GetStringValue(cJSON_GetObjectItem(root_, name));
    return text == nullptr ? "<none>" : text;
  }
  // TableData of the first entry.
  cJSON* FirstData() const {
    return cJSON_GetObjectItem(cJSON_GetArrayItem(cJSON_GetObjectItem(root_, "DBData"), 0),
                               "TableData");
  }

 private:
  cJSON* root_;
};

TEST_F(ToolDbTest, PrintsTheFileAsUtf8Json) {
  CommandResult r = Tool({"db", Path("school.db")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  Parsed answer(r.out);
  ASSERT_NE(answer.root(), nullptr) << r.out;
  EXPECT_EQ(answer.Text("Error"), "0");
  EXPECT_EQ(cJSON_GetArraySize(cJSON_GetObjectItem(answer.root(), "DBData")), 2);
  EXPECT_NE(r.out.find(Utf8(u8"\"TableName\":\"学生\"")), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(Utf8(u8"[\"1\",\"张三\",\"2\",\"乗\\\\\"]")), std::string::npos) << r.out;

  CommandResult names = Tool({"db", "--names-only", Path("school.db")});
  ASSERT_EQ(names.exit_code, 0) << names.err;
  EXPECT_EQ(names.out.find("\"Rows\""), std::string::npos) << names.out;
}

TEST_F(ToolDbTest, RunsTheGivenStatement) {
  CommandResult r =
      Tool({"db", Path("school.db"), "--sql", Utf8(u8"select 名字 from 学生 where id = 2")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  Parsed answer(r.out);
  ASSERT_NE(answer.root(), nullptr) << r.out;
  cJSON* data = cJSON_GetObjectItem(answer.FirstData(), "Data");
  ASSERT_EQ(cJSON_GetArraySize(data), 1);
  EXPECT_STREQ(cJSON_GetStringValue(cJSON_GetArrayItem(data, 0)), Utf8(u8"乗\\").c_str());
}

TEST_F(ToolDbTest, FailuresPrintTheAnswerAndOneLine) {
  CommandResult r = Tool({"db", Path("school.db"), "--sql", "select * from missing"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_NE(r.err.find("1003199"), std::string::npos) << r.err;
  Parsed answer(r.out);
  ASSERT_NE(answer.root(), nullptr) << r.out;
  EXPECT_EQ(answer.Text("Error"), "1003199");
}

// Without a driver of the name the SQLite string asks for, the open fails
// with the driver manager's own message.
TEST_F(ToolDbTest, MissingDriverFailsTheOpen) {
  InstallDrivers("[SQLite3]\nDriver=libsqlite3odbc.so\n");
  CommandResult r = Tool({"db", Path("school.db")});
  EXPECT_EQ(r.exit_code, 1);
  Parsed answer(r.out);
  ASSERT_NE(answer.root(), nullptr) << r.out;
  EXPECT_EQ(answer.Text("Error"), "1003001");
  const std::string expected_start =
      Utf8(u8"Error:Open database,ConnectString:DRIVER=SQLite3 ODBC Driver;Database=") +
      Path("school.db") +
      ";LongNames=0;Timeout=1000;NoTXN=0;SyncPragma=NORMAL;StepAPI=0;NoCreat=1;" +
      Utf8(u8", 错误代码：-1,错误信息：[unixODBC][Driver Manager]");
  EXPECT_EQ(answer.Text("ErrorString").rfind(expected_start, 0), 0u) << answer.Text("ErrorString");
}

TEST_F(ToolDbTest, WrongUsage) {
  const std::vector<std::string> kCases[] = {
      {"db"},
      {"db", Path("school.db"), Path("other.db")},
      {"db", Path("school.db"), "--sql"},
      {"db", Path("school.db"), "--sql", ""},
  };
  for (const auto& args : kCases) {
    CommandResult r = Tool(args);
    EXPECT_EQ(r.exit_code, 2) << args.size();
    EXPECT_EQ(r.out, "");
  }
}

}  // namespace
