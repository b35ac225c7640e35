// The client as a user runs it: the real executable in a program directory
// of its own, under a private X server, with pages of our own that report
// what they see.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "books/book_data_lock.h"
#include "tests/gui/gui_fixture.h"
#include "tests/support/run_command.h"

namespace {

using testing_support::GuiFixture;

// Sends signal to the processes running program_name for this program
// directory (found by their environment, which WebKit's helpers inherit);
// how many it reached.
int SignalProcessesOf(const std::string& program_dir, const std::string& program_name, int signal) {
  std::string marker = std::string("TOMERACK_PROGRAM_DIR=") + program_dir + std::string(1, '\0');
  int reached = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code error;
    auto exe = std::filesystem::read_symlink(entry.path() / "exe", error);
    if (error || exe.filename() != program_name) continue;
    std::string environment = testing_support::ReadBytes(entry.path() / "environ");
    if (environment.find(marker) == std::string::npos) continue;
    if (kill(std::stoi(name), signal) == 0) ++reached;
  }
  return reached;
}

// Ends the client that runs for this program directory, as a desktop
// session's logout would.
void TerminateClientOf(const std::string& program_dir) {
  SignalProcessesOf(program_dir, "tomerack", SIGTERM);
}

// Kills the client's page processes, as a crash would end them.
int KillPageProcessesOf(const std::string& program_dir) {
  return SignalProcessesOf(program_dir, "WebKitWebProcess", SIGKILL);
}

class Client : public GuiFixture {
 protected:
  void SetUp() override {
    GuiFixture::SetUp();
    // For the runs that start the client themselves.
    WriteFile("run/.keep", "");
    chmod(Path("run").c_str(), 0700);
  }

  // For the runs that start the client themselves, on a thread of their own.
  std::map<std::string, std::string> ClientEnvironment() const {
    return {{"TOMERACK_PROGRAM_DIR", dir()},
            {"TOMERACK_REGISTRY_DIR", Path("registry")},
            {"TOMERACK_MESSAGE_LOG", Path("messages.txt")},
            {"XDG_RUNTIME_DIR", Path("run")}};
  }
};

TEST_F(Client, PageMethodsCommandsAndAlertsWorkThroughWindowExternal) {
  WritePage("DTM/t/methods.html",
            reinterpret_cast<const char*>(
                u8R"HTML(<!DOCTYPE html><html><head><meta charset="utf-8"><title>methods</title>
<script src="report.js"></script></head><body><script>
report('testit', window.external.TestIt('a', 5));
report('port', window.external.SystemPara('server_http_port'));
report('uid', window.external.SystemPara('uid') + '/' + window.external.SystemPara('wwwhome'));
report('first', Object.keys(JSON.parse(window.external.SystemPara()))[0]);
try { window.external.GetJunk(); report('junk', 'no exception'); } catch (e) { report('junk', 'threw'); }
report('read', typeof window.external.MinWindow + '/' + ('QuitApp' in window.external) + '/' + ('GetJunk' in window.external));
window.external.SetGlobalPara('greeting', '你好');
report('greeting', window.external.GetGlobalPara('greeting'));
function bounced(text) {
  report('bounced', text);
  window.external.AppInterface_Href('second.html');
  report('href-called', '1');
}
var reply = JSON.parse(window.external.AppInterface(JSON.stringify(
  {Function: 'Bounce', Callback: "bounced('back')", SessionID: '', ID: '', Para: {}})));
report('bounce-return', reply.Return);
report('unknown', JSON.parse(window.external.AppInterface(
  '{"Function":"Nope","Callback":"","SessionID":"","ID":"","Para":{}}')).Return);
</script></body></html>)HTML"));
  WritePage("DTM/t/second.html",
            R"HTML(<!DOCTYPE html><html><head><meta charset="utf-8"><title>second</title>
<script src="report.js"></script></head><body><script>
report('second', 'loaded');
alert('hello');
alert('');
report('alerted', '1');
finish();
</script></body></html>)HTML");
  // (second.html is ASCII)

  // Config.EF and the instance INI file both reach the parameters; the INI wins.
  WriteFile(
      "system/Config.EF",
      R"(  [{"Type":"SystemPara","Key":"uid","Value":"u42"},{"Type":"SystemPara","Key":"wwwhome","Value":"a"}])");
  auto result = RunClient("DTM/t/methods.html", "[DTM]\nwwwhome=b\n");
  EXPECT_EQ(result.exit_code, 0) << result.err;
  auto reports = Reports();
  EXPECT_EQ(reports["testit"], "para1:a,para2:5");
  EXPECT_EQ(reports["port"], "80");
  EXPECT_EQ(reports["uid"], "u42/b");
  EXPECT_EQ(reports["first"], "APPLICATION_DB_USEFILE");
  EXPECT_EQ(reports["junk"], "threw");
  EXPECT_EQ(reports["read"], "function/true/false");
  EXPECT_EQ(reports["greeting"], "你好");
  EXPECT_EQ(reports["bounce-return"], "0");
  EXPECT_EQ(reports["unknown"], "2002000");
  EXPECT_EQ(reports["bounced"], "back");
  EXPECT_EQ(reports["second"], "loaded");
  EXPECT_EQ(reports["done"], "1");
  // The navigation asked for by Href happens on a later tick, after the call returned.
  auto order = ReportOrder();
  auto href = std::find(order.begin(), order.end(), "href-called");
  auto second = std::find(order.begin(), order.end(), "second");
  EXPECT_LT(href, second);
  // One message box (the empty alert shows none), captioned "::" and the
  // page's caption (its title, or its address while the title is not known).
  std::string messages = ReadFile("messages.txt");
  EXPECT_EQ(messages.rfind("::", 0), 0u) << messages;
  EXPECT_NE(messages.find("\thello\n"), std::string::npos) << messages;
  // Besides the notification windows' lines ("[toptip]" of the exit).
  size_t boxes = 0;
  for (size_t at = 0; at < messages.size(); at = messages.find('\n', at) + 1) {
    if (messages[at] != '[') ++boxes;
    if (messages.find('\n', at) == std::string::npos) break;
  }
  EXPECT_EQ(boxes, 1u) << messages;
}

TEST_F(Client, StrangersGetNoHostObject) {
  httplib::Server server;
  std::string top_report;
  server.Get("/frame.html", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(R"HTML(<html><body><script>
var kind = typeof window.external, status;
try {
  var x = new XMLHttpRequest();
  x.open('POST', 'tomerack-host://bridge/call', false);
  x.send('{"t":"guess","op":"get","name":"QuitApp"}');
  status = x.status;
} catch (e) { status = 'error'; }
parent.postMessage(kind + '/' + status, '*');
</script></body></html>)HTML",
                         "text/html");
  });
  server.Get("/top.html", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(R"HTML(<html><body><script>
var x = new XMLHttpRequest();
x.open('GET', '/report?top=' + typeof window.external, false);
x.send();
location.href = 'http://localhost:' + location.port + '/trusted.html';
</script></body></html>)HTML",
                         "text/html");
  });
  server.Get("/report", [&](const httplib::Request& request, httplib::Response& response) {
    top_report = request.get_param_value("top");
    response.set_content("ok", "text/plain");
  });
  server.Get("/trusted.html", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(R"HTML(<html><body><script>
window.external.AppInterface_log('R:trusted=' + window.external.TestIt('t', 1));
window.external.AppInterface_log('R:done=1');
window.external.QuitApp();
</script></body></html>)HTML",
                         "text/html");
  });
  int port = server.bind_to_any_port("127.0.0.1");
  ASSERT_GT(port, 0);
  std::thread serving([&] { server.listen_after_bind(); });

  WritePage("DTM/t/trust.html",
            "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><script src=\"report.js\"></script>"
            "</head><body><script>"
            "window.addEventListener('message', function (e) {"
            "  report('frame', e.data);"
            "  location.href = 'http://127.0.0.1:" +
                std::to_string(port) +
                "/top.html';"
                "});"
                "</script><iframe src=\"http://127.0.0.1:" +
                std::to_string(port) +
                "/frame.html\"></iframe>"
                "</body></html>");
  auto result =
      RunClient("DTM/t/trust.html", "trusted_hosts=localhost:" + std::to_string(port) + "\n");
  server.stop();
  serving.join();

  EXPECT_EQ(result.exit_code, 0) << result.err;
  auto reports = Reports();
  std::string frame = reports["frame"];
  EXPECT_EQ(frame.substr(0, frame.find('/')), "undefined") << frame;
  EXPECT_NE(frame.substr(frame.find('/') + 1), "200") << frame;
  EXPECT_EQ(top_report, "undefined");
  EXPECT_EQ(reports["trusted"], "para1:t,para2:1");
}

TEST_F(Client, ASecondInstanceIsRefused) {
  WritePage("DTM/t/wait.html",
            "<html><head><script src=\"report.js\"></script></head><body><script>"
            "report('started', '1');</script></body></html>");
  WriteFile("system/tomerack.ini", "[system]\nstartpage=DTM/t/wait.html\n");
  std::map<std::string, std::string> env = ClientEnvironment();
  std::thread first([&] {
    testing_support::RunCommand("/usr/bin/timeout", {"30", TOMERACK_CLIENT_PATH}, "", env);
  });
  ASSERT_TRUE(testing_support::WaitFor([&] { return Reports().count("started") != 0; },
                                       std::chrono::seconds(30)));
  auto second = testing_support::RunCommand(TOMERACK_CLIENT_PATH, {}, "", env);
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_NE(second.err.find(reinterpret_cast<const char*>(u8"程序已经启动了一个实例")),
            std::string::npos);
  EXPECT_NE(
      ReadFile("messages.txt").find(reinterpret_cast<const char*>(u8"程序已经启动了一个实例")),
      std::string::npos);
  TerminateClientOf(dir());
  first.join();
}

TEST_F(Client, EndsOnSigtermWhileAnAlertIsOpen) {
  WritePage("DTM/t/alert.html",
            "<html><head><title>a</title><script src=\"report.js\"></script></head><body><script>"
            "report('before', '1'); alert('waiting for you'); report('after', '1');"
            "</script></body></html>");
  WriteFile("system/tomerack.ini", "[system]\nstartpage=DTM/t/alert.html\n");
  // No message log: the real dialog runs its own loop.
  std::map<std::string, std::string> env = ClientEnvironment();
  env.erase("TOMERACK_MESSAGE_LOG");
  testing_support::CommandResult result;
  std::thread client([&] {
    result = testing_support::RunCommand("/usr/bin/timeout", {"60", TOMERACK_CLIENT_PATH}, "", env);
  });
  ASSERT_TRUE(testing_support::WaitFor([&] { return Reports().count("before") != 0; },
                                       std::chrono::seconds(30)));
  // The alert is up (the page waits in it) when the session ends.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  TerminateClientOf(dir());
  client.join();
  EXPECT_EQ(result.exit_code, 0) << result.err;
}

TEST_F(Client, APageWhoseProcessCrashedIsShownAgain) {
  WritePage("DTM/t/crash.html",
            "<html><head><script src=\"report.js\"></script></head><body><script>"
            "report('loaded', Date.now());</script></body></html>");
  WriteFile("system/tomerack.ini", "[system]\nstartpage=DTM/t/crash.html\n");
  std::map<std::string, std::string> env = ClientEnvironment();
  testing_support::CommandResult result;
  std::thread client([&] {
    result = testing_support::RunCommand("/usr/bin/timeout", {"60", TOMERACK_CLIENT_PATH}, "", env);
  });
  auto loads = [&] {
    auto order = ReportOrder();
    return std::count(order.begin(), order.end(), "loaded");
  };
  ASSERT_TRUE(testing_support::WaitFor([&] { return loads() == 1; }, std::chrono::seconds(30)));
  EXPECT_GT(KillPageProcessesOf(dir()), 0);
  EXPECT_TRUE(testing_support::WaitFor([&] { return loads() == 2; }, std::chrono::seconds(30)));
  // A second death right after is logged, and the window does not loop.
  EXPECT_GT(KillPageProcessesOf(dir()), 0);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(loads(), 2);
  TerminateClientOf(dir());
  client.join();
  EXPECT_EQ(result.exit_code, 0) << result.err;
  std::string log;
  for (const auto& entry : std::filesystem::directory_iterator(Path("log")))
    log += testing_support::ReadBytes(entry.path());
  EXPECT_NE(log.find("The page's process crashed on file://"), std::string::npos) << log;
  EXPECT_NE(log.find("died again at once"), std::string::npos) << log;
}

TEST_F(Client, RefusesToStartWhileTheAdminToolWorksOnItsBooks) {
  WritePage("DTM/t/never.html",
            "<html><head><script src=\"report.js\"></script></head><body><script>"
            "report('started', '1'); finish();</script></body></html>");
  // The lock as `tomerack-tool books` holds it while it works.
  BookDataLock tool(dir());
  ASSERT_EQ(tool.Acquire(), BookDataLock::Result::kAcquired);
  auto refused = RunClient("DTM/t/never.html");
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find(reinterpret_cast<const char*>(u8"管理工具正在处理")),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(Reports().count("started"), 0u);
  tool.Release();
  auto started = RunClient("DTM/t/never.html");
  EXPECT_EQ(started.exit_code, 0) << started.err;
  EXPECT_EQ(Reports()["started"], "1");
}

}  // namespace
