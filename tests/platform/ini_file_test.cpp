#include "platform/ini_file.h"

#include <sys/stat.h>

#include <thread>
#include <vector>

#include "tests/support/sandbox.h"

namespace {

using platform::DeletePrivateProfileKey;
using platform::GetPrivateProfileInt;
using platform::GetPrivateProfileKeys;
using platform::GetPrivateProfileString;
using platform::WritePrivateProfileString;

class IniFileTest : public testing_support::Sandbox {
 protected:
  std::string ini() const { return Path("app.ini"); }
};

// A hand-edited file: comments, odd spacing, quotes, CRLF, and double-byte
// names whose second byte looks like "]" or like a lower-case letter.
constexpr char kEdited[] =
    "; settings\r\n"
    "[DTM]\r\n"
    "  WWWHome = http://a/ \r\n"
    "quoted=\"  padded  \"\r\n"
    "single='x'\r\n"
    "half=\"x\r\n"
    "empty=\r\n"
    "noequals\r\n"
    "dup=first\r\n"
    "dup=second\r\n"
    ";commented=1\r\n"
    "[ Other ]\r\n"
    "wwwhome=other\r\n"
    "[\x81\x5d]\r\n"
    "\x81\x61=lower-trail\r\n"
    "\x81\x41=upper-trail\r\n";

TEST_F(IniFileTest, ReadsValuesTheWayWindowsDoes) {
  WriteFile("app.ini", kEdited);
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"DTM", "wwwhome", "http://a/"},
      {"dtm", " WWWHOME ", "http://a/"},
      {"DTM", "quoted", "  padded  "},
      {"DTM", "single", "x"},
      {"DTM", "half", "\"x"},
      {"DTM", "empty", ""},
      {"DTM", "noequals", "default"},
      {"DTM", "dup", "first"},
      {"DTM", "commented", "default"},
      {"DTM", ";commented", "default"},
      {"other", "WWWHOME", "other"},
      {"missing", "wwwhome", "default"},
      {"\x81\x5d", "\x81\x61", "lower-trail"},
      {"\x81\x5d", "\x81\x41", "upper-trail"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetPrivateProfileString(c.section, c.key, "default", ini()), c.expected)
        << c.section << "/" << c.key;
  }
}

TEST_F(IniFileTest, DefaultWhenFileMissingLosesTrailingBlanks) {
  EXPECT_EQ(GetPrivateProfileString("DTM", "uid", "def  ", Path("none.ini")), "def");
  EXPECT_EQ(GetPrivateProfileString("DTM", "uid", "   ", Path("none.ini")), "");
}

TEST_F(IniFileTest, ResultFitsTheBufferWithoutSplittingACharacter) {
  WriteFile("app.ini", "[s]\nascii=abcdef\nwide=\xd6\xd0\xce\xc4\n");
  EXPECT_EQ(GetPrivateProfileString("s", "ascii", "", ini(), 4), "abc");
  EXPECT_EQ(GetPrivateProfileString("s", "wide", "", ini(), 4), "\xd6\xd0");
  EXPECT_EQ(GetPrivateProfileString("s", "wide", "", ini(), 5), "\xd6\xd0\xce\xc4");
  EXPECT_EQ(GetPrivateProfileString("s", "missing", "abcdef", ini(), 3), "ab");
  EXPECT_EQ(GetPrivateProfileString("s", "ascii", "", ini(), 0), "");
}

TEST_F(IniFileTest, IntegerIsTheLeadingNumber) {
  WriteFile("app.ini",
            "[a]\nport=8080\nmixed=12abc\nneg= -7\nplus=+5\nword=abc\nblank=\nquoted=\"42\"\n"
            "huge=4294967295\nsign=-\n");
  struct Case {
    const char* key;
    int expected;
  } cases[] = {{"port", 8080}, {"mixed", 12},  {"neg", -7},  {"plus", 5},  {"word", 99},
               {"blank", 99},  {"quoted", 42}, {"huge", -1}, {"sign", 99}, {"absent", 99}};
  for (const Case& c : cases)
    EXPECT_EQ(GetPrivateProfileInt("a", c.key, 99, ini()), c.expected) << c.key;
}

TEST_F(IniFileTest, FirstWriteCreatesTheFileWithWindowsLineEnds) {
  ASSERT_TRUE(WritePrivateProfileString("_GlobalPara_", "Token", "abc", ini()));
  ASSERT_TRUE(WritePrivateProfileString("_GlobalPara_", "user", "\xd5\xc5", ini()));
  EXPECT_EQ(ReadFile("app.ini"), "[_GlobalPara_]\r\nToken=abc\r\nuser=\xd5\xc5\r\n");
  EXPECT_EQ(GetPrivateProfileString("_globalpara_", "TOKEN", "", ini()), "abc");
}

TEST_F(IniFileTest, WriteDoesNotCreateTheDirectory) {
  EXPECT_FALSE(WritePrivateProfileString("s", "k", "v", Path("missing/app.ini")));
  EXPECT_FALSE(Exists("missing"));
}

TEST_F(IniFileTest, WriteKeepsEverythingElseAndTheFilesLineEnds) {
  WriteFile("app.ini",
            "; top comment\n"
            "[DTM]\n"
            "Uid = old\n"
            "; keep me\n"
            "\n"
            "[system]\n"
            "startpage=x.html");  // no line end at the very end
  ASSERT_TRUE(WritePrivateProfileString("dtm", "uid", "new", ini()));
  ASSERT_TRUE(WritePrivateProfileString("DTM", "wwwhome", "http://h/", ini()));
  ASSERT_TRUE(WritePrivateProfileString("System", "serverUI", "1", ini()));
  ASSERT_TRUE(WritePrivateProfileString("ie", "version", "11", ini()));
  EXPECT_EQ(ReadFile("app.ini"),
            "; top comment\n"
            "[DTM]\n"
            "Uid=new\n"
            "; keep me\n"
            "wwwhome=http://h/\n"
            "\n"
            "[system]\n"
            "startpage=x.html\n"
            "serverUI=1\n"
            "[ie]\n"
            "version=11\n");
}

TEST_F(IniFileTest, WriteUpdatesCrLfFileInPlace) {
  WriteFile("app.ini", "[a]\r\nk=1\r\n[b]\r\nk=2\r\n");
  ASSERT_TRUE(WritePrivateProfileString("b", "k", "3", ini()));
  ASSERT_TRUE(WritePrivateProfileString("a", "n", "4", ini()));
  EXPECT_EQ(ReadFile("app.ini"), "[a]\r\nk=1\r\nn=4\r\n[b]\r\nk=3\r\n");
}

TEST_F(IniFileTest, RefusesTextsThatWouldAddLines) {
  WriteFile("app.ini", "[a]\r\nk=1\r\n");
  EXPECT_FALSE(WritePrivateProfileString("a", "k", "x\r\n[DTM]\r\nwwwhome=evil", ini()));
  EXPECT_FALSE(WritePrivateProfileString("a", "k\nj", "x", ini()));
  EXPECT_FALSE(WritePrivateProfileString("a]", "k", "x", ini()));
  EXPECT_FALSE(WritePrivateProfileString("a", "k=j", "x", ini()));
  EXPECT_EQ(ReadFile("app.ini"), "[a]\r\nk=1\r\n");
}

TEST_F(IniFileTest, WriteKeepsPermissionBits) {
  WriteFile("app.ini", "[a]\nk=1\n");
  ASSERT_EQ(chmod(ini().c_str(), 0640), 0);
  ASSERT_TRUE(WritePrivateProfileString("a", "k", "2", ini()));
  struct stat st;
  ASSERT_EQ(stat(ini().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(IniFileTest, DeleteRemovesEveryCopyOfTheKey) {
  WriteFile("app.ini", "[a]\nk=1\nother=2\nK=3\n[b]\nk=4\n");
  ASSERT_TRUE(DeletePrivateProfileKey("A", "k", ini()));
  EXPECT_EQ(ReadFile("app.ini"), "[a]\nother=2\n[b]\nk=4\n");
  EXPECT_TRUE(DeletePrivateProfileKey("a", "absent", ini()));
  EXPECT_TRUE(DeletePrivateProfileKey("a", "k", Path("none.ini")));
  EXPECT_FALSE(Exists("none.ini"));
}

TEST_F(IniFileTest, KeysInFileOrder) {
  WriteFile("app.ini", "[a]\nzeta=1\n;c=2\nAlpha=3\nZETA=4\nbare\n[b]\nx=1\n");
  EXPECT_EQ(GetPrivateProfileKeys("A", ini()), (std::vector<std::string>{"zeta", "Alpha"}));
  EXPECT_TRUE(GetPrivateProfileKeys("none", ini()).empty());
}

// Each write reads, changes and replaces the whole file; without one lock
// for all of them concurrent writers would lose each other's keys.
TEST_F(IniFileTest, ConcurrentWritersLoseNothing) {
  constexpr int kThreads = 8;
  constexpr int kKeys = 10;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int k = 0; k < kKeys; ++k) {
        std::string key = "t" + std::to_string(t) + "k" + std::to_string(k);
        EXPECT_TRUE(WritePrivateProfileString("s", key, std::to_string(k), ini()));
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(GetPrivateProfileKeys("s", ini()).size(), static_cast<size_t>(kThreads * kKeys));
  EXPECT_EQ(GetPrivateProfileInt("s", "t7k9", -1, ini()), 9);
}

}  // namespace
