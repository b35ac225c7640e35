// Pop-up windows of the real client: a trusted page opens one through the
// open-window command and it shares the page's login, runs its start call
// once, and closes by itself; a page's own window.open opens one too.
#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <thread>

#include "tests/gui/gui_fixture.h"

namespace {

using testing_support::GuiFixture;

constexpr const char kReport[] =
    "function report(k, v) { window.external.AppInterface_log('R:' + k + '=' + v); }\n";

class PopUp : public GuiFixture {
 protected:
  void SetUp() override {
    GuiFixture::SetUp();
    server_.Get("/login", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("Set-Cookie", "session=pupil-7; Path=/");
      res.set_content("ok", "text/plain");
    });
    server_.Get("/whoami", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(req.get_header_value("Cookie"), "text/plain");
    });
    server_.Get("/main.html", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(main_page_, "text/html; charset=utf-8");
    });
    server_.Get("/pop.html", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string("<html><head><title>pop</title><script>") + kReport +
                          R"JS(
var x = new XMLHttpRequest(); x.open('GET', '/whoami', false); x.send();
report('pop-cookie', x.responseText);
report('pop-external', typeof window.external);
var starts = 0;
function started(a) { starts++; report('started', a + starts); setTimeout(function () { window.external.QuitApp(); }, 300); }
</script></head><body><h1>弹出窗口</h1></body></html>)JS",
                      "text/html; charset=utf-8");
    });
    server_.Get("/plain.html", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string("<html><head><script>") + kReport +
                          "report('plain', 'opened'); window.external.QuitApp();"
                          "</script></head><body></body></html>",
                      "text/html; charset=utf-8");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port_, 0);
    serving_ = std::thread([this] { server_.listen_after_bind(); });
  }
  void TearDown() override {
    server_.stop();
    if (serving_.joinable()) serving_.join();
    GuiFixture::TearDown();
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  testing_support::CommandResult Run() { return RunClient(Url("/main.html")); }

  // The day's log (there is one: the pages report into it).
  std::string LogFile() {
    for (const auto& entry : std::filesystem::directory_iterator(Path("log"))) {
      return entry.path().string();
    }
    return {};
  }

  httplib::Server server_;
  std::thread serving_;
  int port_ = 0;
  std::string main_page_;
};

TEST_F(PopUp, OpenWindowCommandOpensAPopUpWithTheLoginThatStartsOnce) {
  main_page_ = std::string("<html><head><script>") + kReport + R"JS(
var x = new XMLHttpRequest(); x.open('GET', '/login', false); x.send();
var reply = JSON.parse(window.external.AppInterface(JSON.stringify({Function: 'NewWindow',
  Callback: '', SessionID: '', ID: '', Para: {URL: location.origin + '/pop.html', ID: '7', Session: '1',
  Show: '1', JS_Start: "started('go')", JS_Inject: ''}})));
report('command', reply.Return);
// A local file is not ours to open from a web page, by either path.
window.external.AppInterface(JSON.stringify({Function: 'NewWindow', Callback: '', SessionID: '',
  ID: '', Para: {URL: 'file:///etc/hostname', ID: '8', Session: '0', Show: '1', JS_Start: '',
  JS_Inject: ''}}));
window.external.AppInterface_Href('/etc/hostname');
setTimeout(function () { window.open('/plain.html'); }, 3000);
setTimeout(function () { report('done', '1'); window.external.QuitApp(); }, 6000);
</script></head><body>main</body></html>)JS";
  auto result = Run();
  EXPECT_EQ(result.exit_code, 0) << result.err;
  auto reports = Reports();
  EXPECT_EQ(reports["command"], "0");
  EXPECT_EQ(reports["pop-cookie"], "session=pupil-7");
  EXPECT_EQ(reports["pop-external"], "object");
  EXPECT_EQ(reports["started"], "go1");
  EXPECT_EQ(reports["plain"], "opened");
  EXPECT_EQ(reports["done"], "1");
  std::string log = testing_support::ReadBytes(LogFile());
  EXPECT_NE(log.find("Refused for http://127.0.0.1:" + std::to_string(port_) +
                     "/main.html: file:///etc/hostname"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("/main.html: /etc/hostname"), std::string::npos) << log;
}

}  // namespace
