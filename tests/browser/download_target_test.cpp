#include "browser/download_target.h"

#include <gtest/gtest.h>

#include "browser/dialog_ie.h"
#include "tests/support/program_dir.h"
#include "util/file_io.h"

namespace {

struct NameCase {
  const char* url;
  const char* content_disposition;
  const char* expected;
};

// Literals are GBK (the test target stores them so), as the edge hands
// texts over.
constexpr NameCase kNameCases[] = {
    {"http://h/files/book%20one.zip?x=1", "", "book one.zip"},
    {"http://h/files/book.zip#part", "", "book.zip"},
    {"http://h/files/book.zip?path=/a/b.exe", "", "book.zip"},
    {"http://h/files/notes.tar.gz/", "", "notes.tar.gz"},
    {"/files/book%20one.zip?x=1", "", "book one.zip"},
    {"http://h/%E8%AF%BE%E6%9C%AC.zip", "", "课本.zip"},
    {"http://h/%BF%CE%B1%BE.zip", "", "课本.zip"},  // escaped GBK from older servers
    // The URL's name wins when it has an extension, the header's otherwise.
    {"http://h/get.php?id=3", "attachment; filename=a.zip", "get.php"},
    {"http://h/files/README", "", "README"},
    {"http://h/files/README", "attachment; filename=a.zip", "a.zip"},
    {"http://h/files/", "attachment; filename=a.zip", "a.zip"},
    {"http://h/files/", "", "files"},
    {"http://h/", "attachment; filename=a.zip", "a.zip"},
    {"http://h", "attachment; filename=a.zip", "a.zip"},
    {"http://h/", "attachment; filename=\"two words.zip\"", "two words.zip"},
    {"http://h/", "attachment;filename=\"say \\\"hi\\\".txt\"; size=3", "say \"hi\".txt"},
    {"http://h/", "attachment; filename*=UTF-8''%E8%AF%BE%E6%9C%AC.zip", "课本.zip"},
    {"http://h/", "attachment; filename=\"fallback.zip\"; filename*=utf-8''real%20one.zip",
     "real one.zip"},
    {"http://h/", "attachment; filename*=ISO-8859-1''caf%E9.txt; filename=cafe.txt", "café.txt"},
    {"http://h/", "attachment; filename*=KOI8-R''x.txt; filename=plain.txt", "plain.txt"},
    {"http://h/", "inline; name=\"field\"", "UNKNOWN"},
    {"http://h/", "", "UNKNOWN"},
    {"", "", "UNKNOWN"},
    {"data:text/plain;base64,QUJD", "", "UNKNOWN"},
    {"about:blank", "", "UNKNOWN"},
};

TEST(DownloadFileName, ComesFromTheUrlOrTheContentDisposition) {
  for (const NameCase& c : kNameCases) {
    SCOPED_TRACE(std::string(c.url) + " | " + c.content_disposition);
    EXPECT_EQ(DownloadFileNameFor(c.url, c.content_disposition), c.expected);
  }
}

// What pages and servers send must never name a file outside the directory.
constexpr NameCase kHostileCases[] = {
    {"http://h/..%2F..%2Fetc%2Fpasswd", "", "UNKNOWN"},
    {"http://h/a%2Fb.zip", "attachment; filename=ok.zip", "ok.zip"},
    {"http://h/..%5C..%5Cwin.ini", "", "UNKNOWN"},
    {"http://h/%2e%2e", "", "UNKNOWN"},
    {"http://h/files/%2E", "", "UNKNOWN"},
    {"http://h/files/..", "", "UNKNOWN"},
    {"http://h/a%00b.zip", "", "UNKNOWN"},
    {"http://h/a%0Ab.zip", "", "UNKNOWN"},
    {"http://h/dir\\..\\evil.zip", "", "evil.zip"},
    {"http://h/", "attachment; filename=/etc/passwd", "passwd"},
    {"http://h/", "attachment; filename=\"/root/.ssh/authorized_keys\"", "authorized_keys"},
    {"http://h/", "attachment; filename=\"..\\..\\evil.exe\"", "evil.exe"},
    {"http://h/", "attachment; filename=\"C:\\\\Windows\\\\evil.dll\"", "evil.dll"},
    {"http://h/", "attachment; filename=\"../\"", "UNKNOWN"},
    {"http://h/", "attachment; filename=..", "UNKNOWN"},
    {"http://h/", "attachment; filename*=UTF-8''..%2F..%2Fetc%2Fpasswd", "UNKNOWN"},
    {"http://h/", "attachment; filename*=UTF-8''%2e%2e", "UNKNOWN"},
    {"http://h/", "attachment; filename*=UTF-8''..%5Cx.zip; filename=safe.zip", "safe.zip"},
};

TEST(DownloadFileName, NeverLeavesTheDirectory) {
  for (const NameCase& c : kHostileCases) {
    SCOPED_TRACE(std::string(c.url) + " | " + c.content_disposition);
    EXPECT_EQ(DownloadFileNameFor(c.url, c.content_disposition), c.expected);
  }
}

TEST(DownloadFileName, TrailBytesOfDoubleByteCharactersAreNoSeparators) {
  // "\x95\x5C" is one GBK character whose second byte is a backslash.
  const std::string name =
      "a\x95\x5C"
      "b.zip";
  EXPECT_EQ(PlainFileName(name), name);
  EXPECT_EQ(PlainFileName("dir\\" + name), name);
}

TEST(DownloadFileName, ExtensionStartsAtTheFirstDot) {
  EXPECT_EQ(DownloadNameFromUrl("http://h/notes.tar.gz").extension, ".tar.gz");
  EXPECT_EQ(DownloadNameFromContentDisposition("attachment; filename=a.b.c").extension, ".b.c");
  EXPECT_EQ(DownloadNameFromUrl("http://h/README").extension, "");
}

class WindowManager : public CDownLoadManager_interface {
 public:
  WindowManager(std::string directory, std::string name)
      : directory_(std::move(directory)), name_(std::move(name)) {}
  bool GetDownloadTarget(std::string& directory, std::string& name) override {
    directory = directory_;
    name = name_;
    return true;
  }

 private:
  std::string directory_;
  std::string name_;
};

class DownloadTargetTest : public testing_support::ProgramDirSandbox {};

TEST_F(DownloadTargetTest, WithoutAManagerGoesIntoTheProgramsDownloadFolderCreatedOnDemand) {
  ASSERT_FALSE(Exists("download"));
  DownloadTarget target;
  ASSERT_TRUE(ResolveDownloadTarget(nullptr, "http://h/files/book%20one.zip?x=1", "", target));
  EXPECT_EQ(target.directory, Path("download"));
  EXPECT_EQ(target.name, "book one.zip");
  EXPECT_EQ(target.path, Path("download/book one.zip"));
  EXPECT_TRUE(Exists("download"));

  CDownLoadManager_interface base;  // leaves both empty
  ASSERT_TRUE(ResolveDownloadTarget(&base, "http://h/x/", "", target));
  EXPECT_EQ(target.path, Path("download/x"));
}

TEST_F(DownloadTargetTest, TheManagersDirectoryAndNameWinTheNameKeepsItsLastExtension) {
  struct Case {
    const char* directory;
    const char* name;
    const char* url;
    const char* expected_path;  // relative to the sandbox
  };
  const Case cases[] = {
      {"mine/books", "", "http://h/a.tar.gz", "mine/books/a.tar.gz"},
      {"mine", "chosen", "http://h/a.tar.gz", "mine/chosen.gz"},
      {"mine", "chosen", "http://h/", "mine/chosen"},
      {"", "chosen", "http://h/b.zip", "download/chosen.zip"},
      {"mine", "../../escape", "http://h/b.zip", "mine/escape.zip"},
      {"mine", "..", "http://h/b.zip", "mine/b.zip"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.directory) + " | " + c.name + " | " + c.url);
    std::string directory = *c.directory != '\0' ? Path(c.directory) : "";
    WindowManager manager(directory, c.name);
    DownloadTarget target;
    ASSERT_TRUE(ResolveDownloadTarget(&manager, c.url, "", target));
    EXPECT_EQ(target.path, Path(c.expected_path));
    EXPECT_TRUE(FileExists(target.directory));
  }
}

TEST_F(DownloadTargetTest, FailsWhenTheDirectoryCannotBeMade) {
  WriteFile("blocker", "a file where a folder should go");
  WindowManager manager(Path("blocker/sub"), "");
  DownloadTarget target;
  EXPECT_FALSE(ResolveDownloadTarget(&manager, "http://h/a.zip", "", target));
}

}  // namespace
