// A pupil's session with the real client against the demo service: sign in,
// get the catalogue, download a book while the status rows move, open it in
// its reader and open it again, upgrade it to a newer edition, uninstall it,
// sign out and close; and a client killed in the middle of a download that
// finishes the book when it is started again.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <filesystem>
#include <regex>

#include "platform/process.h"
#include "tests/gui/gui_fixture.h"
#include "tests/support/demo_service_process.h"
#include "tests/support/run_command.h"

namespace {

using testing_support::DemoServiceProcess;
using testing_support::GuiFixture;
using testing_support::ReadBytes;


// The page side of every session: the commands, and a runner of steps that
// waits for a condition between them.
constexpr const char kSessionScript[] = R"JS(
function cmd(fn, para) {
  return window.external.AppInterface(JSON.stringify(
    {Function: fn, Callback: '', SessionID: '', ID: '', Para: para}));
}
function operate(type, bsid) {
  return cmd('Request', {Type: 'bookOperate', Data: {Type: type, bsid: bsid}});
}
function row(bsid) {
  var reply = JSON.parse(cmd('Request', {Type: 'BookDownload'}));
  var data = reply.Para.Data;
  for (var i = 0; i + 3 < data.length; i += 4) {
    if (data[i] === bsid) return {percent: data[i + 1], tip: data[i + 2], status: data[i + 3]};
  }
  return null;
}
function catalogueRows() {
  var reply = JSON.parse(cmd('Request', {Type: 'Tomerack'}));
  return reply.Function === 'TomerackRequest' ? 0 : Number(reply.Para.Rows);
}
function signIn(uid) {
  window.external.SetGlobalPara('uid', uid);
  window.external.SetGlobalPara('sessionid', 'session-' + uid);
  return JSON.parse(cmd('Report', {Type: 'Login'})).Return;
}
// Each step is [name, action, until]; until() is polled every 100 ms.
function run(steps) {
  var i = 0;
  function next() {
    if (i >= steps.length) { finish(); return; }
    var step = steps[i++];
    if (step[1]) report(step[0], step[1]());
    waitFor(step[0], step[2], next);
  }
  function waitFor(name, until, then) {
    var started = Date.now();
    (function poll() {
      if (!until || until()) { then(); return; }
      if (Date.now() - started > 60000) { report('timeout', name); finish(); return; }
      setTimeout(poll, 100);
    })();
  }
  next();
}
)JS";

// Pages are UTF-8: give them u8 literals.
std::string Page(const char8_t* steps_utf8) {
  std::string steps = reinterpret_cast<const char*>(steps_utf8);
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><script src=\"report.js\"></script>"
         "<script src=\"session.js\"></script></head><body><script>\n" +
         steps + "\n</script></body></html>";
}

class ClientBooks : public GuiFixture {
 protected:
  void SetUp() override {
    GuiFixture::SetUp();
    WriteFile("DTM/t/session.js", kSessionScript);
    WriteFile("service/.keep", "");
    WriteFile("run/.keep", "");
    chmod(Path("run").c_str(), 0700);
  }

  void Serve(DemoServiceProcess& service, std::vector<std::string> options = {}) {
    ASSERT_TRUE(service.Start(Path("service"), std::move(options)));
    std::string server = service.Url("").substr(7);
    // Plain JSON: what an administrator supplies before sealing.
    WriteFile("system/Config.EF",
              "  [{\"Type\":\"SystemPara\",\"Key\":\"serverlist\",\"Value\":\"app#demo#1#1#" +
                  server + ";dat#demo#1#1#" + server + ";cor#demo#1#1#" + server +
                  "\"},"
                  "{\"Type\":\"SystemPara\",\"Key\":\"wwwhome_app\",\"Value\":\"http://$SERVER$/\"},"
                  "{\"Type\":\"SystemPara\",\"Key\":\"wwwhome_data\",\"Value\":\"http://"
                  "$SERVER_DATA$/data\"},"
                  "{\"Type\":\"SystemPara\",\"Key\":\"url_getTomeRack\",\"Value\":\"http://"
                  "$SERVER$/api/tomerack\"},"
                  "{\"Type\":\"SystemPara\",\"Key\":\"_CONFIG_EF_token\",\"Value\":\"demo-token\"}]");
  }

  std::map<std::string, std::string> Environment() {
    return {{"TOMERACK_PROGRAM_DIR", dir()},
            {"TOMERACK_REGISTRY_DIR", Path("registry")},
            {"TOMERACK_MESSAGE_LOG", Path("messages.txt")},
            {"TOMERACK_MESSAGE_ANSWER", "yes"},
            {"XDG_RUNTIME_DIR", Path("run")}};
  }

  testing_support::CommandResult RunClient(const std::string& page) {
    WriteFile("system/tomerack.ini", "[system]\nstartpage=" + page + "\n");
    return testing_support::RunCommand("/usr/bin/timeout", {"120", TOMERACK_CLIENT_PATH}, "",
                                       Environment());
  }

  // The install directory of a demo book, found by its edition file.
  // The directory of the installed book; a new edition being unpacked
  // beside it (".staging") is not installed.
  std::string InstallDirOf(const std::string& gid) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir())) {
      std::string extension = entry.path().parent_path().extension().string();
      if (entry.path().filename() == "edition.txt" && extension != ".staging" &&
          extension != ".old" && entry.path().parent_path().string().find(gid) != std::string::npos) {
        return entry.path().parent_path().string();
      }
    }
    return {};
  }
};

TEST_F(ClientBooks, APupilDownloadsOpensUpgradesAndRemovesABook) {
  DemoServiceProcess service;
  Serve(service);
  WritePage("DTM/t/first.html", Page(u8R"JS(
var seen = {};
run([
  ['login', function () { return signIn('u1'); }, function () { return catalogueRows() > 0; }],
  ['rows', function () { return catalogueRows(); }, null],
  ['download', function () { return JSON.parse(operate('download', 'b1001')).Return; },
   function () {
     var r = row('b1001');
     if (r) seen[r.status + ' ' + r.percent] = 1;
     return r && r.status === '已安装';
   }],
  ['seen', function () { return Object.keys(seen).join('|'); }, null],
  ['open', function () {
     return JSON.parse(cmd('Report', {Type: 'TomerackSelection', Data: 'b1001'})).Return;
   }, null],
  ['wait', function () { return 1; },
   (function () { var t = Date.now(); return function () { return Date.now() - t > 1500; }; })()],
  ['open-again', function () { return JSON.parse(operate('open', 'b1001')).Return; }, null],
  ['wait2', function () { return 1; },
   (function () { var t = 0; return function () { t = t || Date.now(); return Date.now() - t > 1500; }; })()],
]);
)JS"));
  auto first = RunClient("DTM/t/first.html");
  ASSERT_EQ(first.exit_code, 0) << first.err;
  auto reports = Reports();
  ASSERT_EQ(reports.count("timeout"), 0u) << reports["timeout"];
  EXPECT_EQ(reports["login"], "0");
  EXPECT_EQ(reports["rows"], "3");
  EXPECT_EQ(reports["download"], "0");
  // The rows moved from downloading to installed.
  EXPECT_NE(reports["seen"].find("已安装 100"), std::string::npos) << reports["seen"];
  EXPECT_EQ(reports["open"], "0");

  std::string book = InstallDirOf("g1001");
  ASSERT_FALSE(book.empty());
  std::string opened = ReadBytes(book + "/opened.log");
  // Started twice (the restart question answered yes), for the signed-in
  // user, with the reader type, the install directory and the bookID.
  EXPECT_EQ(std::count(opened.begin(), opened.end(), '\n'), 2) << opened;
  EXPECT_NE(opened.find("user=u1 args=--reader-type rj --book-dir " + book + " --book-id g1001"),
            std::string::npos)
      << opened;
  std::string messages = ReadFile("messages.txt");
  EXPECT_NE(messages.find(reinterpret_cast<const char*>(u8"该教材已经启动，是否关闭后重新启动？")),
            std::string::npos)
      << messages;
  EXPECT_NE(messages.find(reinterpret_cast<const char*>(u8"[toptip]\t正在退出数字教材，请稍候.......")),
            std::string::npos)
      << messages;
  // The readers went with the window.
  EXPECT_EQ(testing_support::RunCommand("/usr/bin/pgrep", {"-f", book + "/tomereader"}).exit_code,
            1);

  // A newer edition comes out; the pupil upgrades, then removes the book.
  httplib::Client control("127.0.0.1", std::stoi(service.Url("").substr(17)));
  auto published = control.Post("/demo/publish/g1001");
  ASSERT_TRUE(published && published->status == 200);
  WritePage("DTM/t/second.html", Page(u8R"JS(
run([
  ['login', function () { return signIn('u1'); }, function () { return catalogueRows() > 0; }],
  ['refresh', function () {
     return JSON.parse(cmd('Request', {Type: 'Tomerack', Data: 'refresh'})).Para.Rows;
   }, function () { var r = row('b1001'); return r && r.status === '可升级'; }],
  ['upgrade', function () { return JSON.parse(operate('upgrade', 'b1001')).Return; },
   function () { var r = row('b1001'); return r && r.status === '已安装'; }],
  ['uninstall', function () { return JSON.parse(operate('uninstall', 'b1001')).Return; },
   function () { var r = row('b1001'); return r && r.status === '未安装'; }],
  ['logout', function () { return JSON.parse(cmd('Report', {Type: 'MenuLogout'})).Return; }, null],
]);
)JS"));
  std::string edition_before = ReadBytes(book + "/edition.txt");
  auto second = RunClient("DTM/t/second.html");
  ASSERT_EQ(second.exit_code, 0) << second.err;
  reports = Reports();
  ASSERT_EQ(reports.count("timeout"), 0u) << reports["timeout"];
  EXPECT_EQ(reports["upgrade"], "0");
  EXPECT_EQ(reports["uninstall"], "0");
  EXPECT_EQ(reports["logout"], "0");
  EXPECT_EQ(edition_before, "edition 1\r\n");
  EXPECT_FALSE(std::filesystem::exists(book));
  EXPECT_NE(service.AccessLog().find("/data/books/g1001/g1001.zip 206"), std::string::npos);
}

TEST_F(ClientBooks, AClientKilledDuringADownloadFinishesTheBookWhenStartedAgain) {
  DemoServiceProcess service;
  Serve(service, {"--slow-ms", "150"});
  WritePage("DTM/t/start.html", Page(u8R"JS(
run([
  ['login', function () { return signIn('u1'); }, function () { return catalogueRows() > 0; }],
  // Until the pass has made the book's record, the download is refused
  // ("try again later"), as a page learns from the message.
  ['download', null, function () { return JSON.parse(operate('download', 'b1002')).Return === '0'; }],
  ['downloading', null,
   function () { var r = row('b1002'); return r && Number(r.percent) > 0 && r.status === '下载中'; }],
  ['progress', function () { return row('b1002').percent; },
   function () { return false; }],
]);
)JS"));
  WriteFile("system/tomerack.ini", "[system]\nstartpage=DTM/t/start.html\n");
  // The client inherits the test's environment.
  auto environment = Environment();
  for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
  platform::ProcessHandle client = platform::StartProcess(TOMERACK_CLIENT_PATH, {}, dir());
  for (const auto& [name, value] : environment) {
    if (name != "TOMERACK_PROGRAM_DIR" && name != "TOMERACK_REGISTRY_DIR") unsetenv(name.c_str());
  }
  ASSERT_TRUE(client.valid());
  bool progressed = testing_support::WaitFor([&] { return Reports().count("progress") != 0; },
                                             std::chrono::seconds(90));
  kill(client.pid(), SIGKILL);
  client.Wait(-1);
  ASSERT_TRUE(progressed) << Reports()["timeout"];
  ASSERT_EQ(InstallDirOf("g1002"), "");

  // Started again, signed in as before but without a sign-in on the page.
  WritePage("DTM/t/again.html", Page(u8R"JS(
run([
  ['installed', null, function () { var r = row('b1002'); return r && r.status === '已安装'; }],
  ['after', function () { return row('b1002').percent; }, null],
]);
)JS"));
  auto again = RunClient("DTM/t/again.html");
  ASSERT_EQ(again.exit_code, 0) << again.err;
  auto reports = Reports();
  ASSERT_EQ(reports.count("timeout"), 0u) << reports["timeout"];
  EXPECT_EQ(reports["after"], "100");
  EXPECT_NE(InstallDirOf("g1002"), "");
  std::string messages = ReadFile("messages.txt");
  EXPECT_NE(messages.find(reinterpret_cast<const char*>(
                u8"[tip]\t课本在下载或安装过程中被中断，正在检查，请稍候...")),
            std::string::npos)
      << messages;
}

}  // namespace
