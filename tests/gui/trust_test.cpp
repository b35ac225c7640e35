// Who gets window.external and what page content may load, on the real
// WebKit view with real pages: loopback servers for the web origins, files
// in the program directory for the local ones.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <httplib.h>

#include <filesystem>
#include <mutex>
#include <thread>

#include "browser/dialog_ie.h"
#include "browser/gtk_frame.h"
#include "browser/trusted_pages.h"
#include "config/parameter_store.h"
#include "tests/gui/file_choosers.h"
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

  // Reports what a frame sees of window.external: "object/answered" when
  // it has the host object.
  static constexpr const char kInnerProbe[] = R"JS(
var kind = typeof window.external, call;
try { call = window.external.TestIt('a', 1) === 'para1:a,para2:1' ? 'answered' : 'wrong'; }
catch (e) { call = 'refused'; }
var key = location.search.substring(1);
)JS";

  GtkWindowFrameFactory factory_;
  CDialogIE* window_ = nullptr;
};

// The chain a stranger would try: a frame in a trusted page saves a page
// and asks the window to open it; that page, opened anyway, reads files,
// frames a shipped page to steal its way in, and calls the host while it
// leaves for a trusted page.
TEST_F(Trust, AStrangersChainFailsAtEveryStep) {
  WriteFile("data/secret.txt", "secret");
  const std::string evil_path = Path("download/evil.html");
  const std::string start = Origin("127.0.0.1") + "/page/start.html";
  SetParameter("startpage", start);

  // Steps 1 and 2, from a frame of another origin inside the start page.
  ServePage("evil.html", "<html><body>a saved page</body></html>");
  ServePage("stranger.html",
            "<html><body><a id=\"a\" href=\"/page/evil.html\" download=\"evil.html\">x</a>"
            "<script>document.getElementById('a').click();"
            "var w = window.open('" +
                FileUrlFromPath(evil_path) + "');" + Tell("stranger", "String(w)") +
                "</script></body></html>");
  ServePage("start.html", "<html><body><iframe src=\"" + Origin("localhost") +
                              "/page/stranger.html\"></iframe></body></html>");
  window_->NavigateTo(start);
  ASSERT_TRUE(WaitToHear("stranger"));
  GtkWidget* chooser = nullptr;
  ASSERT_TRUE(Turn([&] {
    std::vector<GtkWidget*> open = testing_support::OpenFileChoosers();
    chooser = open.empty() ? nullptr : open.front();
    return chooser != nullptr;
  })) << "the stranger's download was not put to the user";
  gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
  ASSERT_TRUE(
      Turn([&] { return testing_support::OpenFileChoosers().empty() && !browser().IsBusy(); }));
  EXPECT_EQ(browser().LocationURL(), start);
  EXPECT_FALSE(std::filesystem::exists(evil_path));
  EXPECT_FALSE(std::filesystem::exists(std::string(g_get_home_dir()) + "/evil.html"));
  if (const char* folder = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD)) {
    EXPECT_FALSE(std::filesystem::exists(std::string(folder) + "/evil.html"));
  }

  // Steps 3 to 5: suppose the page got onto the disk and into the window.
  std::string hostname = testing_support::ReadBytes("/etc/hostname");
  while (!hostname.empty() && std::isspace(static_cast<unsigned char>(hostname.back())))
    hostname.pop_back();
  WritePage("DTM/t/framed.html",
            "<html><body><script>" + std::string(kInnerProbe) +
                "try { window.external.AppInterface_log('R:evil=framed'); } catch (e) {}" +
                Tell("framed", "kind + '/' + call") + "</script></body></html>");
  ServePage("calm.html", "<html><body><script>" + Tell("calm", "'1'") + "</script></body></html>");
  const std::string calm = Origin("127.0.0.1") + "/page/calm.html";
  WriteFile("download/evil.html", R"HTML(<html><body><script>
function read(address) {
  try {
    var x = new XMLHttpRequest();
    x.open('GET', address, false);
    x.send();
    return x.status + ':' + x.responseText;
  } catch (e) { return 'error'; }
}
function forge(body) {
  try {
    var x = new XMLHttpRequest();
    x.open('POST', 'tomerack-host://bridge/call', false);
    x.send(body);
    return String(x.status);
  } catch (e) { return 'error'; }
}
var shipped = '@SHIPPED@';
@TELL_READ@
var frame = document.createElement('iframe');
frame.src = shipped;
document.body.appendChild(frame);
// A shipped page must not load in the frame; if it did, its prototypes
// must be out of reach.
setTimeout(function () {
  var reached, shows;
  try { shows = frame.contentWindow.location.href; } catch (e) { shows = 'hidden'; }
  try {
    frame.contentWindow.Object.prototype.toJSON = function () { return this; };
    reached = 'yes';
  } catch (e) { reached = 'no'; }
  // Leaves for a trusted page and calls while this document still runs.
  location.href = '@CALM@';
  var forged = forge('{"t":"guess","op":"get","name":"AppInterface_log"}') + '/' +
      forge('{"t":"guess","op":"hello","u":"' + shipped + '"}');
  @TELL_FORGED@
}, 1000);
</script></body></html>)HTML");
  std::string evil = ReadFile("download/evil.html");
  auto put = [&](const std::string& mark, const std::string& text) {
    evil.replace(evil.find(mark), mark.size(), text);
  };
  put("@SHIPPED@", FileUrlFromPath(Path("DTM/t/framed.html")));
  put("@CALM@", calm);
  put("@TELL_READ@",
      Tell("read", "read('file:///etc/hostname') + '|' + read('../data/secret.txt')"));
  // Told while the document is already leaving for the calm page.
  put("@TELL_FORGED@", TellNow("forged", "reached + '/' + forged + '/' + (shows === shipped)"));
  WriteFile("download/evil.html", evil);
  window_->NavigateTo(evil_path);
  ASSERT_TRUE(WaitToHear("read"));
  ASSERT_TRUE(WaitToHear("forged"));
  ASSERT_TRUE(WaitToHear("calm"));

  std::string read = Heard("read");
  EXPECT_EQ(read.find("secret"), std::string::npos) << read;
  if (!hostname.empty()) {
    EXPECT_EQ(read.find(hostname), std::string::npos) << read;
  }
  // The window refuses the frame's load; were it loaded, it would get nothing.
  EXPECT_TRUE(Heard("framed") == "" || Heard("framed") == "undefined/refused") << Heard("framed");
  // reached/hello/forged call/frame shows the shipped page: the frame the
  // page could reach into is its own empty one, and the host said no.
  std::string forged = Heard("forged");
  EXPECT_EQ(forged.find("200"), std::string::npos) << forged;
  EXPECT_EQ(forged.substr(forged.rfind('/') + 1), "false") << forged;
  EXPECT_EQ(Reports().count("evil"), 0u);
  EXPECT_EQ(browser().LocationURL(), calm);
}

// Page script that replaces every built-in the bridge touches sees only its
// own calls, and the calls still work.
TEST_F(Trust, PollutedPrototypesReachNoKeyAndNoHostRequest) {
  WritePage("DTM/t/pollute.html", R"HTML(<html><head><script src="report.js"></script></head>
<body><script>
var seen = [];
function keep(what) { seen.push(String(what)); }
function keysOf(value) {
  try { return Object.keys(value).map(function (k) { return '<' + k + '>'; }).join(''); }
  catch (e) { return '?'; }
}
var stringify = JSON.stringify, parse = JSON.parse;
Object.prototype.toJSON = function () { keep('toJSON' + keysOf(this)); return this; };
JSON.stringify = function (v) { keep('stringify' + keysOf(v)); return stringify(v); };
JSON.parse = function (t) { keep('parse:' + t); return parse(t); };
var open = XMLHttpRequest.prototype.open, send = XMLHttpRequest.prototype.send;
XMLHttpRequest.prototype.open = function (m, u) { keep('open:' + u); return open.apply(this, arguments); };
XMLHttpRequest.prototype.send = function (b) { keep('send:' + b); return send.apply(this, arguments); };
var dispatch = EventTarget.prototype.dispatchEvent, listen = EventTarget.prototype.addEventListener;
EventTarget.prototype.dispatchEvent = function (e) { keep('dispatch:' + e.type + ':' + e.detail); return dispatch.call(this, e); };
EventTarget.prototype.addEventListener = function (t) { keep('listen:' + t); return listen.apply(this, arguments); };
window.addEventListener('tomerack-answer', function (e) { keep('answer:' + e.detail); }, true);
var Custom = CustomEvent;
window.CustomEvent = function (t, o) { keep('event:' + t + ':' + (o && o.detail)); return new Custom(t, o); };
// Tries to take the channel over and to replace the object.
var mine = document.createElement('span');
mine.addEventListener('tomerack-ready', function (e) { keep('ready:' + e.detail); });
window.dispatchEvent(new MouseEvent('tomerack-ping', {relatedTarget: mine}));
try { window.external = 5; } catch (e) {}
try { delete window.external; } catch (e) {}
try { Object.defineProperty(window, 'external', {value: 6}); } catch (e) {}
var answer;
try { answer = window.external.TestIt('a', 1); } catch (e) { answer = 'threw ' + e; }
report('kind', typeof window.external);
report('answer', answer);
report('seen', seen.join('|'));
</script></body></html>)HTML");
  window_->NavigateTo(Path("DTM/t/pollute.html"));
  ASSERT_TRUE(WaitForReport("seen"));
  auto reports = Reports();
  EXPECT_EQ(reports["kind"], "object");
  EXPECT_EQ(reports["answer"], "para1:a,para2:1");
  const std::string& seen = reports["seen"];
  for (const char* secret_part : {"<t>", "\"t\"", "tomerack-host", "hello", "ready:"}) {
    EXPECT_EQ(seen.find(secret_part), std::string::npos) << secret_part << " in " << seen;
  }
}

TEST_F(Trust, OnlyFramesOfTrustedPagesUnderATrustedTopGetTheHostObject) {
  struct Case {
    const char* what;
    std::string top;    // a page address, or a local file below the program
    std::string frame;  // the frame's address as the top page writes it
    const char* sees;  // null: the window refuses to load the frame at all
  };
  const std::string trusted = Origin("127.0.0.1") + "/page/";
  const std::string stranger = Origin("localhost") + "/page/";
  const Case cases[] = {
      {"a trusted frame under a trusted top", trusted + "top.html", trusted + "inner.html",
       "object/answered"},
      {"a trusted frame under a stranger's top", stranger + "top.html", trusted + "inner.html",
       "undefined/refused"},
      {"a sandboxed frame of the trusted origin", trusted + "sandboxing.html",
       trusted + "inner.html", "undefined/refused"},
      {"a shipped page under a shipped page", "DTM/t/top.html", "inner.html", "object/answered"},
      {"a shipped page under a saved page", "download/top.html",
       FileUrlFromPath(Path("DTM/t/inner.html")), nullptr},
  };
  SetParameter("startpage", trusted + "start.html");
  const std::string probe =
      "<html><body><script>" + std::string(kInnerProbe) + Tell("seen", "key + ':' + kind + '/' + call") +
      "</script></body></html>";
  ServePage("inner.html", probe);
  WritePage("DTM/t/inner.html", probe);
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string key = "c" + std::to_string(n++);
    std::string frame = "<iframe " +
                        std::string(c.top.find("sandboxing") != std::string::npos
                                        ? "sandbox=\"allow-scripts\" "
                                        : "") +
                        "src=\"" + c.frame + "?" + key + "\"></iframe>";
    std::string top = "<html><body>" + frame + "<script>" + Tell("top", "'" + key + "'") +
                      "</script></body></html>";
    if (c.top.rfind("http", 0) == 0) {
      ServePage(c.top.substr(c.top.rfind('/') + 1), top);
      window_->NavigateTo(c.top);
    } else {
      WritePage(c.top, top);
      window_->NavigateTo(Path(c.top));
    }
    if (c.sees == nullptr) {
      ASSERT_TRUE(Turn([&] { return Heard("top") == key; }));
      auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
      Turn([&] { return std::chrono::steady_clock::now() > until; });
      EXPECT_NE(Heard("seen").rfind(key + ":", 0), 0u) << Heard("seen");
      continue;
    }
    ASSERT_TRUE(Turn([&] { return Heard("seen").rfind(key + ":", 0) == 0; })) << Heard("seen");
    EXPECT_EQ(Heard("seen"), key + ":" + c.sees);
  }
}

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
