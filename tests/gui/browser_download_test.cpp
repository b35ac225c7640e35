// Downloads that pages start, in a real window against a loopback server:
// where they are saved, under which name, and that nothing lands where
// WebKit would save by itself (the home directory).
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "browser/dialog_ie.h"
#include "browser/gtk_frame.h"
#include "browser/webkit_control.h"
#include "config/parameter_store.h"
#include "tests/gui/file_choosers.h"
#include "tests/gui/gui_fixture.h"
#include "tests/support/loopback_server.h"

namespace {

// GLib keeps the home directory it saw first, so the sandbox must be HOME
// before any test of this program runs. Not made at start-up, where merely
// listing the tests would leave it behind.
class SandboxHome : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tomerack-home-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    setenv("HOME", dir_.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir_ + "/.config").c_str(), 1);
    // The file dialog keeps its settings; not in a desktop's store.
    setenv("GSETTINGS_BACKEND", "memory", 1);
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  static const std::string& dir() { return dir_; }

 private:
  static inline std::string dir_;
};

::testing::Environment* const g_home = ::testing::AddGlobalTestEnvironment(new SandboxHome);

constexpr const char kBook[] = "the new edition of the book";
constexpr const char kReport[] = "%PDF-1.4 a report";

// The names of every file below dir.
std::vector<std::string> FileNamesBelow(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(
           dir, std::filesystem::directory_options::skip_permission_denied, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file(ec)) names.push_back(it->path().filename().string());
  }
  return names;
}

class BrowserDownload : public testing_support::GuiFixture {
 protected:
  void SetUp() override {
    GuiFixture::SetUp();
    static bool ready = gtk_init_check(nullptr, nullptr);
    ASSERT_TRUE(ready);
    ASSERT_FALSE(SandboxHome::dir().empty());
    ASSERT_EQ(std::string(g_get_home_dir()), SandboxHome::dir());
    SetWindowFrameFactory(&factory_);

    auto& http = server_.server();
    http.Get(R"(/files/(.+))", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(kBook, "application/zip");
    });
    // No name in the path: only the header names the file.
    http.Get("/get", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("Content-Disposition", "attachment; filename=\"report.pdf\"");
      res.set_content(kReport, "application/octet-stream");
    });
    http.Get("/hostile", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("Content-Disposition", "attachment; filename=\"../../../escaped.pdf\"");
      res.set_content(kReport, "application/octet-stream");
    });
    // A trusted page with a stranger's frame (another host name is another
    // origin) that starts a download of its own.
    http.Get("/framing.html", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content("<html><body><iframe src=\"http://localhost:" +
                          std::to_string(server_.port()) + "/link.html\"></iframe></body></html>",
                      "text/html");
    });
    http.Get("/link.html", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(
          "<html><body><a id=\"a\" href=\"/files/book%20one.zip?x=1\" download>book</a>"
          "<script>document.getElementById('a').click();</script></body></html>",
          "text/html");
    });
    server_.Start();
  }
  void TearDown() override {
    for (GtkWidget* dialog : OpenChoosers()) gtk_widget_destroy(dialog);
    CDialogIE::CloseAllWindows();
    SetWindowFrameFactory(nullptr);
    server_.Stop();
    GuiFixture::TearDown();
  }

  static void Pump() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
  }
  bool PumpUntil(const std::function<bool()>& done) {
    return testing_support::WaitFor(
        [&] {
          Pump();
          return done();
        },
        std::chrono::seconds(60));
  }
  std::string LogText() const {
    std::string text;
    std::error_code ec;
    for (auto& entry : std::filesystem::directory_iterator(Path("log"), ec)) {
      text += testing_support::ReadBytes(entry.path().string());
    }
    return text;
  }
  bool LogHas(const std::string& line) const { return LogText().find(line) != std::string::npos; }

  static std::vector<GtkWidget*> OpenChoosers() { return testing_support::OpenFileChoosers(); }
  GtkWidget* WaitForChooser() {
    GtkWidget* chooser = nullptr;
    PumpUntil([&] {
      std::vector<GtkWidget*> open = OpenChoosers();
      chooser = open.empty() ? nullptr : open.front();
      return chooser != nullptr;
    });
    return chooser;
  }

  // Nothing the downloads carried lies below the home directory or the
  // user's download folder.
  void ExpectNothingSavedOutsideTheProgram() {
    std::vector<std::string> places = {SandboxHome::dir()};
    if (const char* user = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD)) {
      places.push_back(user);
    }
    for (const std::string& place : places) {
      for (const std::string& name : FileNamesBelow(place)) {
        SCOPED_TRACE(place + ": " + name);
        EXPECT_EQ(name.find("book"), std::string::npos);
        EXPECT_EQ(name.find("report"), std::string::npos);
        EXPECT_EQ(name.find("escaped"), std::string::npos);
        EXPECT_EQ(name.find("wkdownload"), std::string::npos);
      }
    }
  }

  testing_support::LoopbackServer server_;
  GtkWindowFrameFactory factory_;
};

TEST_F(BrowserDownload, WindowsOwnManagerSavesIntoTheDownloadFolderReplacingTheOldFile) {
  struct Case {
    const char* address;
    const char* saved_as;
    const char* content;
  };
  const Case cases[] = {
      {"/link.html", "book one.zip", kBook},  // <a download>, the name from the URL
      {"/get", "report.pdf", kReport},        // navigation, the name from the header
      {"/hostile", "escaped.pdf", kReport},   // the header's directory part dropped
  };
  // The service's own pages start them.
  SetParameter("startpage", server_.Url("/"));
  auto* window = new CDialogIE();
  ASSERT_TRUE(window->Create());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    std::string relative = std::string("download/") + c.saved_as;
    WriteFile(relative, "an older file of that name");
    window->NavigateTo(server_.Url(c.address));
    std::string saved = "browser download saved: " + Path(relative);
    ASSERT_TRUE(PumpUntil([&] { return LogHas(saved); })) << LogText();
    EXPECT_EQ(ReadFile(relative), c.content);
  }
  EXPECT_TRUE(OpenChoosers().empty());
  EXPECT_FALSE(std::filesystem::exists(Path("escaped.pdf")));
  std::vector<std::string> in_folder = FileNamesBelow(Path("download"));
  std::sort(in_folder.begin(), in_folder.end());
  EXPECT_EQ(in_folder, (std::vector<std::string>{"book one.zip", "escaped.pdf", "report.pdf"}));
  ExpectNothingSavedOutsideTheProgram();
}

// A window that leaves downloads to the browser (as pop-up windows will).
class LeavesDownloadsToTheBrowser : public CDialogIE {
 public:
  bool UseOwnDownloadManager() override { return false; }
};

TEST_F(BrowserDownload, OtherDownloadsAskWhereToSaveAndCancelSavesNothing) {
  enum class Source { kWindowWithoutOwnManager, kNoWindow, kStrangerInTheMainWindow };
  enum class Answer { kSave, kCancel };
  struct Case {
    Source source;
    Answer answer;
  };
  const Case cases[] = {
      {Source::kWindowWithoutOwnManager, Answer::kSave},
      {Source::kWindowWithoutOwnManager, Answer::kCancel},
      {Source::kNoWindow, Answer::kSave},
      {Source::kNoWindow, Answer::kCancel},
      {Source::kStrangerInTheMainWindow, Answer::kSave},
      {Source::kStrangerInTheMainWindow, Answer::kCancel},
  };
  SetParameter("startpage", server_.Url("/"));
  auto* main_window = new CDialogIE();
  ASSERT_TRUE(main_window->Create());
  auto* window = new LeavesDownloadsToTheBrowser();
  ASSERT_TRUE(window->Create());
  auto& control = static_cast<WebKitBrowserControl&>(window->frame()->browser());
  int round = 0;
  for (const Case& c : cases) {
    ++round;
    SCOPED_TRACE(round);
    std::string url = server_.Url("/get?round=" + std::to_string(round));
    std::string suggested_name = "report.pdf";
    CDialogIE* parent = window;
    if (c.source == Source::kStrangerInTheMainWindow) {
      url = "http://localhost:" + std::to_string(server_.port()) + "/files/book%20one.zip?x=1";
      suggested_name = "book one.zip";
      parent = main_window;
      main_window->NavigateTo(server_.Url("/framing.html?round=" + std::to_string(round)));
    } else if (c.source == Source::kNoWindow) {
      WebKitDownload* download =
          webkit_web_context_download_uri(webkit_web_view_get_context(control.view()), url.c_str());
      g_object_unref(download);
    } else {
      window->NavigateTo(url);
    }
    GtkWidget* dialog = WaitForChooser();
    ASSERT_NE(dialog, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    g_autofree char* suggested = gtk_file_chooser_get_current_name(chooser);
    EXPECT_EQ(suggested_name, suggested != nullptr ? suggested : "");
    EXPECT_EQ(
        gtk_window_get_transient_for(GTK_WINDOW(dialog)),
        c.source == Source::kNoWindow ? nullptr : reinterpret_cast<GtkWindow*>(parent->handle()));

    std::string chosen = "chosen/" + std::to_string(round) + ".pdf";
    if (c.answer == Answer::kSave) {
      std::filesystem::create_directories(Path("chosen"));
      ASSERT_TRUE(gtk_file_chooser_set_current_folder(chooser, Path("chosen").c_str()));
      gtk_file_chooser_set_current_name(chooser, (std::to_string(round) + ".pdf").c_str());
      gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
      std::string saved = "browser download saved: " + Path(chosen);
      ASSERT_TRUE(PumpUntil([&] { return LogHas(saved); })) << LogText();
      EXPECT_EQ(ReadFile(chosen),
                c.source == Source::kStrangerInTheMainWindow ? kBook : kReport);
    } else {
      gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
      std::string failed = "browser download failed: " + url;
      ASSERT_TRUE(PumpUntil([&] { return LogHas(failed); })) << LogText();
      EXPECT_FALSE(std::filesystem::exists(Path(chosen)));
    }
    EXPECT_TRUE(OpenChoosers().empty());
  }
  EXPECT_TRUE(FileNamesBelow(Path("download")).empty());
  ExpectNothingSavedOutsideTheProgram();
}

}  // namespace

namespace {

TEST_F(BrowserDownload, ALoggedRunAnswersTheChooserAsABox) {
  struct Case {
    const char* answer;
    bool saved;
  };
  const Case cases[] = {{"ok", true}, {"cancel", false}};
  auto* window = new LeavesDownloadsToTheBrowser();
  ASSERT_TRUE(window->Create());
  setenv("TOMERACK_MESSAGE_LOG", Path("messages.txt").c_str(), 1);
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    setenv("TOMERACK_MESSAGE_ANSWER", c.answer, 1);
    std::filesystem::remove(Path("download/report.pdf"));
    std::string url = server_.Url("/get?round=" + std::to_string(++round));
    window->NavigateTo(url);
    std::string outcome = c.saved ? "browser download saved: " + Path("download/report.pdf")
                                  : "browser download failed: " + url;
    ASSERT_TRUE(PumpUntil([&] { return LogHas(outcome); })) << LogText();
    EXPECT_TRUE(OpenChoosers().empty());
    EXPECT_EQ(std::filesystem::exists(Path("download/report.pdf")), c.saved);
  }
  unsetenv("TOMERACK_MESSAGE_LOG");
  unsetenv("TOMERACK_MESSAGE_ANSWER");
  EXPECT_EQ(ReadFile("messages.txt"), "[filechooser]\treport.pdf\n[filechooser]\treport.pdf\n");
}

}  // namespace
