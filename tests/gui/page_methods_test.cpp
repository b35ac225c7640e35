// The service methods of window.external as a page uses them: the real
// client, a shipped page of our own, the real bridge, and the demo service
// for the transfers.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include "tests/gui/gui_fixture.h"
#include "tests/support/demo_service_process.h"
#include "tests/support/odbc_sandbox.h"

namespace {

class PageMethods : public testing_support::GuiFixture {
 protected:
  void SetUp() override {
    GuiFixture::SetUp();
    ASSERT_FALSE(testing_support::OdbcConfigDirectory().empty());
    testing_support::SetInstalledOdbcDrivers();
    ASSERT_TRUE(demo_.Start(dir()));
  }

  testing_support::DemoServiceProcess demo_;
};

// Every call reports its result; line breaks become "|" so that a report
// stays one log line.
constexpr const char8_t kMethodsPage[] = u8R"HTML(<!DOCTYPE html>
<html><head><meta charset="utf-8"><script src="report.js"></script></head><body><script>
var x = window.external;
var home = x.SystemPara('DIR_MODULE');
function put(key, value) { report(key, String(value).replace(/\r?\n/g, '|')); }
function uploaded(code, answer, error) { put('callback', code + '/' + answer + '/' + error); }

put('regwrite', x.RegisterWrite('HKEY_CURRENT_USER', 'Software\\TomeRack\\t', 'n', '42', 'int'));
put('regread', x.RegisterRead('hkey_current_user', 'Software/TomeRack/t', 'n', 'INT'));
put('regmissing', x.RegisterRead('HKEY_CURRENT_USER', 'Software\\TomeRack\\t', 'none', ''));

put('write', x.AppInterface_WriteFile('data/t', 'a.txt', '数字教材'));
put('append', x.AppInterface_AppendFile('data/t', 'a.txt', '!'));
put('read', x.AppInterface_ReadFile('data/t', 'a.txt'));
x.AppInterface_WriteFile('data/t/sub', 'b.txt', 'b');
put('list', x.AppInterface_GetFileList('data/t', '*.txt', 0));
put('listdeep', x.AppInterface_GetFileList('data/t', '*.txt', 1).split('*').sort().join('*'));
put('move', x.AppInterface_MoveFile('data/t', 'a.txt', 'data/u', 'c.txt'));
put('moved', x.AppInterface_ReadFile('data/u', 'c.txt'));
put('delete', x.AppInterface_DeleteFile('data/u/c.txt') + '/' + x.AppInterface_DeleteFile('data/u/c.txt'));
x.AppInterface_WriteFile('data/t', 'abc.txt', 'abc');
put('base64', x.FileToBase64(home + '/data/t/abc.txt'));
var db = JSON.parse(x.AppInterface_ReadFileDB(home + '/data/school.db', 0, 'select name from pupils'));
put('db', db.Error + '/' + JSON.stringify(db.DBData[0].TableData.Data));

var picture = home + '/data/picture.png';
put('imagesize', x.ImageProcess(JSON.stringify({method: 'size', path: picture})));
put('imagescale', x.ImageProcess(JSON.stringify({method: 'scale2', path: picture,
    pathDest: home + '/data/small.jpg', maxWidth: '100', maxHeight: '100'})));
put('imagesmall', x.ImageProcess(JSON.stringify({method: 'size', path: home + '/data/small.jpg'})));
put('imagebad', x.ImageProcess('not json'));

var service = '@SERVICE@';
var port = Number(service.split(':')[2]);
put('upload', x.HTTPUpload2('file', home + '/data/t/abc.txt', '127.0.0.1', port, '/upload',
                            'grade=3\r\nclass=b', 'uploaded', 'X-Class: 3b'));
put('badupload', x.HTTPUpload('file', home + '/data/t/abc.txt', '127.0.0.1', port, '/upload'));
put('download', x.HTTPDownload(service + '/uploads/abc.txt', home + '/data/t/back.txt'));
put('back', x.AppInterface_ReadFile('data/t', 'back.txt'));
put('missing', x.HTTPDownload(service + '/uploads/none.txt', home + '/data/t/none.txt'));
// The callback comes at a later tick of the command timer.
setTimeout(finish, 1500);
</script></body></html>)HTML";

TEST_F(PageMethods, APageUsesEveryServiceMethodThroughWindowExternal) {
  WriteFile("data/.keep", "");
  ASSERT_EQ(testing_support::MakeSqliteFile(
                Path("data/school.db"),
                reinterpret_cast<const char*>(
                    u8"create table pupils(name text); insert into pupils values('小明');")),
            "");
  GdkPixbuf* picture = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 640, 480);
  gdk_pixbuf_fill(picture, 0x3366ccff);
  ASSERT_TRUE(gdk_pixbuf_save(picture, Path("data/picture.png").c_str(), "png", nullptr, nullptr));
  g_object_unref(picture);
  std::string page = reinterpret_cast<const char*>(kMethodsPage);
  const std::string service = demo_.Url("");
  page.replace(page.find("@SERVICE@"), 9, service.substr(0, service.size()));
  WritePage("DTM/t/services.html", page);
  auto result = RunClient("DTM/t/services.html", "",
                          {{"ODBCSYSINI", testing_support::OdbcConfigDirectory()}});
  EXPECT_EQ(result.exit_code, 0) << result.err;

  auto reports = Reports();
  struct Expected {
    const char* key;
    std::string value;  // GBK, as the log holds it
  } const expected[] = {
      {"regwrite", "OK"},
      {"regread", "42"},
      {"regmissing", "Err:2"},
      {"write", "1"},
      {"append", "1"},
      {"read", "数字教材!"},
      {"list", "a.txt"},
      {"listdeep", "a.txt*sub/b.txt"},
      {"move", "1"},
      {"moved", "数字教材!"},
      {"delete", "1/0"},
      {"base64", "YWJj="},
      {"db", "0/[\"小明\"]"},
      {"imagesize", "640,480"},
      {"imagescale", "OK"},
      {"imagesmall", "100,75"},
      {"imagebad", "ERR:参数不正确"},
      {"upload", "0,uploaded abc.txt 3|class=b|grade=3|"},
      {"badupload", "1002005"},
      {"download", "0"},
      {"back", "abc"},
      {"missing", "1009404"},
      {"callback", "0/uploaded abc.txt 3|class=b|grade=3|/"},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.key);
    EXPECT_EQ(reports[e.key], e.value);
  }
  EXPECT_EQ(reports["done"], "1");
}

}  // namespace
