#include "services/file_methods.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/codepage.h"
#include "services/file_move.h"
#include "services/page_paths.h"
#include "tests/support/odbc_sandbox.h"
#include "tests/support/program_dir.h"

namespace {

using Args = std::vector<ScriptValue>;

ScriptValue Text(const std::string& gbk) {
  return ScriptValue::String(platform::GbkToUtf16(gbk));
}

std::string TextOf(const ScriptValue& value) {
  EXPECT_EQ(value.kind(), ScriptValueKind::kString);
  return platform::Utf16ToGbk(value.text());
}

class FileMethods : public testing_support::ProgramDirSandbox {
 protected:
  void SetUp() override {
    ProgramDirSandbox::SetUp();
    ASSERT_FALSE(testing_support::OdbcConfigDirectory().empty());
    testing_support::SetInstalledOdbcDrivers();
  }
  // The sandbox path as the pages' code page has it.
  std::string GbkPath(const std::string& relative) const {
    return platform::Utf8ToGbk(Path(relative));
  }
};

TEST_F(FileMethods, PagePathsResolveAgainstTheProgramDirectory) {
  const std::string program = platform::Utf8ToGbk(dir());
  struct Case {
    std::string page;
    std::string path;
  } const cases[] = {
      {"data/books", program + "/data/books"},
      {"data\\books\\", program + "/data/books/"},
      {"", program + "/"},
      {"/srv/x", "/srv/x"},
      {"\\srv\\x", "/srv/x"},
      {"C:/x/y", "/x/y"},
      {"C:\\x", "/x"},
      {"d:", "/"},
      // The trail byte of a double-byte character is no separator.
      {"\xca\x5c", program + "/\xca\x5c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    EXPECT_EQ(ResolvePagePath(c.page), c.path);
  }
}

TEST_F(FileMethods, WriteReadAndAppendThroughPagePaths) {
  // Forward slashes, a directory made on the way, a name that reaches into
  // a subdirectory.
  EXPECT_EQ(WritePageFile({Text("data/books"), Text("a.txt"), Text("第一课")}).integer(), 1);
  // The page's text is stored in the code page, as the page's other files are.
  EXPECT_EQ(ReadFile("data/books/a.txt"), "第一课");
  EXPECT_EQ(TextOf(ReadPageFile({Text("data/books"), Text("a.txt")})), "第一课");
  EXPECT_EQ(TextOf(ReadPageFile({Text("data"), Text("books\\a.txt")})), "第一课");
  EXPECT_EQ(WritePageFile({Text(GbkPath("out/deep")), Text("b.txt"), Text("x")}).integer(), 1);
  EXPECT_EQ(ReadFile("out/deep/b.txt"), "x");

  EXPECT_EQ(AppendPageFile({Text("data/books"), Text("a.txt"), Text("!")}).integer(), 1);
  EXPECT_EQ(TextOf(ReadPageFile({Text("data/books"), Text("a.txt")})), "第一课!");
  // An empty content creates or empties the file.
  EXPECT_EQ(WritePageFile({Text("data/books"), Text("a.txt"), Text("")}).integer(), 1);
  EXPECT_TRUE(std::filesystem::exists(Path("data/books/a.txt")));
  EXPECT_EQ(std::filesystem::file_size(Path("data/books/a.txt")), 0u);
  EXPECT_EQ(TextOf(ReadPageFile({Text("data/books"), Text("a.txt")})), "");
  EXPECT_EQ(TextOf(ReadPageFile({Text("data/books"), Text("missing.txt")})), "");
  // A directory cannot be written as a file.
  EXPECT_EQ(WritePageFile({Text("data"), Text("books"), Text("x")}).integer(), 0);
}

TEST_F(FileMethods, FileListsWithAndWithoutDescent) {
  WriteFile("list/a.txt", "");
  WriteFile("list/c.bin", "");
  WriteFile("list/sub/b.txt", "");
  const int32_t kDescend = 1;
  const std::u16string one = u"1";
  struct Case {
    const char* what;
    std::string pattern;
    ScriptValue descend;
    const char* names;
  } const cases[] = {
      {"flat", "*.txt", ScriptValue::Int32(0), "a.txt"},
      {"descending", "*.txt", ScriptValue::Int32(1), "a.txt*sub/b.txt"},
      {"descending by a boolean", "*.txt", ScriptValue::Bool(true), "a.txt*sub/b.txt"},
      {"descending by a reference", "*.txt", ScriptValue::Int32Ref(&kDescend), "a.txt*sub/b.txt"},
      {"the text 1 counts as 0", "*.txt", Text("1"), "a.txt"},
      {"a directory part in the pattern", "sub/*.txt", ScriptValue::Int32(0), "b.txt"},
      {"nothing found", "*.zip", ScriptValue::Int32(1), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string names = TextOf(GetPageFileList({Text("list"), Text(c.pattern), c.descend}));
    // The OS gives no order; compare as sets of "*"-joined names.
    std::vector<std::string> got;
    for (size_t at = 0; !names.empty();) {
      size_t star = names.find('*', at);
      got.push_back(names.substr(at, star - at));
      if (star == std::string::npos) break;
      at = star + 1;
    }
    std::sort(got.begin(), got.end());
    std::string sorted;
    for (const std::string& name : got) sorted += (sorted.empty() ? "" : "*") + name;
    EXPECT_EQ(sorted, c.names);
  }
}

TEST_F(FileMethods, MovesReplaceTheTargetAndAFailedMoveKeepsIt) {
  WriteFile("from/a.txt", "new");
  WriteFile("to/a.txt", "old");
  EXPECT_EQ(MovePageFile({Text("from"), Text("a.txt"), Text("to")}).integer(), 1);
  EXPECT_EQ(ReadFile("to/a.txt"), "new");
  EXPECT_FALSE(std::filesystem::exists(Path("from/a.txt")));

  // An empty fourth argument keeps the name; a target directory is made.
  WriteFile("from/b.txt", "b");
  EXPECT_EQ(MovePageFile({Text("from"), Text("b.txt"), Text("to/made"), Text("")}).integer(), 1);
  EXPECT_EQ(ReadFile("to/made/b.txt"), "b");
  WriteFile("from/c.txt", "c");
  EXPECT_EQ(MovePageFile({Text("from"), Text("c.txt"), Text("to"), Text("d.txt")}).integer(), 1);
  EXPECT_EQ(ReadFile("to/d.txt"), "c");

  // A move that cannot happen leaves the old target alone.
  EXPECT_EQ(MovePageFile({Text("from"), Text("gone.txt"), Text("to"), Text("a.txt")}).integer(), 0);
  EXPECT_EQ(ReadFile("to/a.txt"), "new");
  WriteFile("from/e.txt", "e");
  std::filesystem::create_directories(Path("to/a-dir/inside"));
  EXPECT_EQ(MovePageFile({Text("from"), Text("e.txt"), Text("to"), Text("a-dir")}).integer(), 0);
  EXPECT_TRUE(std::filesystem::exists(Path("to/a-dir/inside")));
  EXPECT_EQ(ReadFile("from/e.txt"), "e");
  // Other argument counts move nothing.
  EXPECT_EQ(MovePageFile({Text("from"), Text("e.txt")}).integer(), 0);
  EXPECT_EQ(MovePageFile({Text("from"), Text("e.txt"), Text("to"), Text("x"), Text("y")}).integer(),
            0);
  EXPECT_EQ(ReadFile("from/e.txt"), "e");
}

TEST_F(FileMethods, AMoveToAnotherFileSystemCopiesAndReplaces) {
  // /dev/shm is a tmpfs on most machines, the sandbox usually not.
  const std::string other = "/dev/shm/tomerack-move-" + std::to_string(::getpid());
  struct stat here{}, there{};
  if (::stat(dir().c_str(), &here) != 0 || ::mkdir(other.c_str(), 0700) != 0 ||
      ::stat(other.c_str(), &there) != 0 || here.st_dev == there.st_dev) {
    std::filesystem::remove_all(other);
    GTEST_SKIP() << "no second file system at hand";
  }
  WriteFile("from/big.bin", std::string(3 << 20, 'z'));
  testing_support::WriteBytes(other + "/big.bin", "old");
  EXPECT_TRUE(MoveFileReplacing(GbkPath("from/big.bin"), other + "/big.bin"));
  EXPECT_EQ(testing_support::ReadBytes(other + "/big.bin"), std::string(3 << 20, 'z'));
  EXPECT_FALSE(std::filesystem::exists(Path("from/big.bin")));
  EXPECT_FALSE(std::filesystem::exists(other + "/big.bin.moving"));
  std::filesystem::remove_all(other);
}

TEST_F(FileMethods, DeleteBase64AndDataFiles) {
  WriteFile("x/abc.txt", "abc");
  WriteFile("x/empty.txt", "");
  EXPECT_EQ(TextOf(PageFileToBase64({Text(GbkPath("x/abc.txt"))})), "YWJj=");
  EXPECT_EQ(TextOf(PageFileToBase64({Text(GbkPath("x/empty.txt"))})), "");
  EXPECT_EQ(TextOf(PageFileToBase64({Text(GbkPath("x/none.txt"))})), "");
  EXPECT_EQ(TextOf(PageFileToBase64({})), "");

  EXPECT_EQ(DeletePageFile({Text("x/abc.txt")}).integer(), 1);
  EXPECT_FALSE(std::filesystem::exists(Path("x/abc.txt")));
  EXPECT_EQ(DeletePageFile({Text("x/abc.txt")}).integer(), 0);
  EXPECT_EQ(DeletePageFile({Text("x")}).integer(), 0);

  const std::string db = Path("x/school.db");
  ASSERT_EQ(testing_support::MakeSqliteFile(
                db, "create table pupils(id integer); insert into pupils values(7);"),
            "");
  const std::u16string flag_text = u"1";
  // The flag from a text or a text reference lists names only.
  for (const ScriptValue& names_only : {Text("1"), ScriptValue::StringRef(&flag_text)}) {
    std::string json = TextOf(ReadPageDataFile({Text(GbkPath("x/school.db")), names_only}));
    EXPECT_NE(json.find("\"TableData\":\"\""), std::string::npos) << json;
  }
  std::string rows = TextOf(ReadPageDataFile({Text(GbkPath("x/school.db"))}));
  EXPECT_NE(rows.find("\"Rows\":\"1\""), std::string::npos) << rows;
  std::string query = TextOf(ReadPageDataFile(
      {Text(GbkPath("x/school.db")), ScriptValue::Int32(0), Text("select id * 6 as n from pupils")}));
  EXPECT_NE(query.find("42"), std::string::npos) << query;
}

}  // namespace
