// Who gets window.external and what page content may load, on the real
// WebKit view with real pages: loopback servers for the web origins, files
// in the program directory for the local ones.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <httplib.h>

#include <mutex>
#include <thread>

#include "browser/dialog_ie.h"
#include "browser/gtk_frame.h"
#include "browser/trusted_pages.h"
#include "config/parameter_store.h"
#include "tests/gui/gui_fixture.h"
#include "tests/gui/page_server.h"

namespace {

class Trust : public testing_support::GuiFixture, protected testing_support::PageServer {
 protected:
  void SetUp() override {
    GuiFixture::SetUp();
    static bool ready = gtk_init_check(nullptr, nullptr);
    ASSERT_TRUE(ready);
    StartPageServer();
    SetWindowFrameFactory(&factory_);
    window_ = new CDialogIE();
    ASSERT_TRUE(window_->Create());
  }
  void TearDown() override {
    CDialogIE::CloseAllWindows();
    SetWindowFrameFactory(nullptr);
    StopPageServer();
    GuiFixture::TearDown();
  }

  bool WaitForReport(const std::string& key) {
    return Turn([&] { return Reports().count(key) != 0; });
  }
  WebBrowserControl& browser() { return window_->frame()->browser(); }

  // Tries window.external and a forged call of the bridge.
  static constexpr const char kProbe[] = R"JS(
var kind = typeof window.external, call, forged;
try { window.external.TestIt('a', 1); call = 'answered'; } catch (e) { call = 'refused'; }
try {
  var x = new XMLHttpRequest();
  x.open('POST', 'tomerack-host://bridge/call', false);
  x.send('{"t":"guess","op":"get","name":"QuitApp"}');
  forged = String(x.status);
} catch (e) { forged = 'error'; }
)JS";

  GtkWindowFrameFactory factory_;
  CDialogIE* window_ = nullptr;
};

TEST_F(Trust, AFrameOfAnotherOriginCannotOpenALocalFileInTheWindow) {
  WriteFile("download/evil.html",
            "<html><body><script>" + Tell("evil", "'loaded'") + "</script></body></html>");
  const std::string evil = FileUrlFromPath(Path("download/evil.html"));
  ServePage("frame.html",
            "<html><body><script>"
            "var w = window.open('" +
                evil +
                "');"
                "parent.postMessage(String(w), '*');"
                "</script></body></html>");
  ServePage("start.html",
            "<html><body><script>" + std::string(kReportScript) +
                "window.addEventListener('message', function (e) { report('asked', e.data); });"
                "</script><iframe src=\"" +
                Origin("localhost") + "/page/frame.html\"></iframe></body></html>");
  const std::string start = Origin("127.0.0.1") + "/page/start.html";
  SetParameter("startpage", start);
  window_->NavigateTo(start);
  ASSERT_TRUE(WaitForReport("asked"));
  // The new-window hook runs while window.open waits, so a load it started
  // would already be the window's address.
  EXPECT_EQ(browser().LocationURL(), start);
  ASSERT_TRUE(Turn([&] { return !browser().IsBusy(); }));
  EXPECT_EQ(browser().LocationURL(), start);
  EXPECT_EQ(Heard("evil"), "");
}

TEST_F(Trust, LocalPagesOutsideTheShippedPagesGetNoHostObject) {
  const char* const kPlaces[] = {
      "download/x.html", "DTM/../download/y.html", "temp/x.html", "data/x.html",
      "log/x.html",      "system/x.html",          "x.html"};
  int n = 0;
  for (const char* place : kPlaces) {
    SCOPED_TRACE(place);
    std::string key = "p" + std::to_string(n++);
    std::string file = place;
    if (file.rfind("DTM/../", 0) == 0) file = file.substr(7);
    WriteFile(file, "<html><body><script>" + std::string(kProbe) +
                        Tell(key, "kind + '/' + call + '/' + forged") + "</script></body></html>");
    window_->NavigateTo(Path(place));
    ASSERT_TRUE(WaitToHear(key));
    std::string heard = Heard(key);
    EXPECT_EQ(heard.substr(0, heard.rfind('/')), "undefined/refused");
    EXPECT_NE(heard.substr(heard.rfind('/') + 1), "200");
  }
  // Spelled so that it still looks like a shipped page, it may get the
  // script, but no answer.
  WriteFile("download/z.html", "<html><body><script>" + std::string(kProbe) +
                                   Tell("encoded", "call + '/' + forged") +
                                   "</script></body></html>");
  window_->NavigateTo(FileUrlFromPath(Path("DTM")) + "/..%2Fdownload%2Fz.html");
  ASSERT_TRUE(WaitToHear("encoded"));
  EXPECT_EQ(Heard("encoded").substr(0, 8), "refused/");
  // The shipped pages do get it.
  WriteFile("DTM/t/probe.html", "<html><body><script>" + std::string(kProbe) +
                                    Tell("shipped", "kind + '/' + call") +
                                    "</script></body></html>");
  window_->NavigateTo(Path("DTM/t/probe.html"));
  ASSERT_TRUE(WaitToHear("shipped"));
  EXPECT_EQ(Heard("shipped"), "object/answered");
}

TEST_F(Trust, AFilePageReadsNoOtherFile) {
  WriteFile("data/secret.txt", "secret");
  WriteFile("DTM/t/sibling.txt", "sibling");
  WritePage("DTM/t/read.html",
            R"HTML(<html><head><script src="report.js"></script></head><body><script>
function read(name, address) {
  try {
    var x = new XMLHttpRequest();
    x.open('GET', address, false);
    x.send();
    report(name, x.status + ':' + x.responseText);
  } catch (e) { report(name, 'error'); }
}
read('secret', '../../data/secret.txt');
read('sibling', 'sibling.txt');
report('loaded', '1');
</script></body></html>)HTML");
  window_->NavigateTo(Path("DTM/t/read.html"));
  ASSERT_TRUE(WaitForReport("loaded"));
  auto reports = Reports();
  for (const char* name : {"secret", "sibling"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(reports[name].find("secret"), std::string::npos) << reports[name];
    EXPECT_EQ(reports[name].find("sibling"), std::string::npos) << reports[name];
  }
}

TEST_F(Trust, ARelativeAddressWithAColonIsTakenAgainstThePage) {
  WritePage("DTM/t/from.html",
            "<html><head><script src=\"report.js\"></script></head><body>"
            "<script>report('loaded','1')</script></body></html>");
  WritePage("DTM/t/list.html",
            "<html><head><script src=\"report.js\"></script></head><body>"
            "<script>report('list', location.pathname.split('/').pop() + "
            "decodeURIComponent(location.search))</script></body></html>");
  window_->NavigateTo(Path("DTM/t/from.html"));
  ASSERT_TRUE(WaitForReport("loaded"));
  browser().Navigate("list.html?t=12:30");
  ASSERT_TRUE(WaitForReport("list"));
  EXPECT_EQ(Reports()["list"], "list.html?t=12:30");
}

}  // namespace
