// The client: one instance at a time; applies Config.EF and the instance INI
// file, opens the browser window on the start page and ends when that window
// closes.
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/config_file.h"
#include "app/main_window.h"
#include "app/notification_windows_gtk.h"
#include "app/startup.h"
#include "books/book_data_lock.h"
#include "browser/dialog_ie.h"
#include "browser/gtk_frame.h"
#include "browser/gui_sanitizer_defaults.h"
#include "browser/webkit_control.h"
#include "config/daily_log.h"
#include "config/program_paths.h"
#include "platform/codepage.h"
#include "platform/loop_watch_gtk.h"
#include "platform/message_box.h"
#include "platform/shared_directory.h"
#include "platform/ui_loop_gtk.h"
#include "util/path_names.h"

namespace {

constexpr const char kPromptCaption[] = "提示";
constexpr const char kBooksBusyMessage[] =
    "管理工具正在处理本程序目录中的教材，请等它结束后再启动数字教材。";

// SIGTERM and SIGINT close the window as the user would, so that the web
// processes end with the program.
gboolean OnTerminate(gpointer window) {
  // An open message box would hold the close request in its own loop.
  EndMessageBoxes();
  static_cast<CDialogIE*>(window)->frame()->PostCloseRequest();
  return G_SOURCE_CONTINUE;
}

// The test-only switch that lets WebDriver drive the window, and the name a
// session's browserName must match.
constexpr const char kAutomationSwitch[] = "--automation";
constexpr const char kAutomationName[] = "tomerack";

bool HasSwitch(int argc, char** argv, const char* name) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  if (!CheckProgramDirectory(error)) {
    std::fprintf(stderr, "tomerack: %s\n", error.c_str());
    return 1;
  }
  // Before any thread starts: in an installation shared by several accounts,
  // books, records and logs stay writable for the next account.
  platform::ShareNewFilesInGroupDirectory(GetProgramDirectory());
  bool have_display = gtk_init_check(&argc, &argv);
  if (have_display) InstallGtkMessageBox();

  switch (InstanceGuard().Acquire()) {
    case platform::InstanceLock::Result::kAcquired:
      break;
    case platform::InstanceLock::Result::kAlreadyHeld:
      std::fprintf(stderr, "tomerack: %s\n", platform::GbkToUtf8(kAlreadyRunningMessage).c_str());
      if (have_display) platform::ShowMessageBox(0, kAlreadyRunningMessage, kPromptCaption, 0x40);
      return 1;
    case platform::InstanceLock::Result::kFailed:
      std::fprintf(stderr, "tomerack: cannot create the instance lock %s\n",
                   InstanceGuard().path().c_str());
      return 1;
  }
  // The admin tool's books commands and the client never share a program
  // directory. A directory where the lock cannot be made (read-only media)
  // cannot be written by the tool either.
  BookDataLock book_lock;
  if (book_lock.Acquire() == BookDataLock::Result::kAlreadyHeld) {
    std::fprintf(stderr, "tomerack: %s (%s)\n", platform::GbkToUtf8(kBooksBusyMessage).c_str(),
                 platform::GbkToUtf8(book_lock.path()).c_str());
    if (have_display) platform::ShowMessageBox(0, kBooksBusyMessage, kPromptCaption, 0x40);
    return 1;
  }
  if (!have_display) {
    std::fprintf(stderr, "tomerack: cannot open a display (is DISPLAY set?)\n");
    return 1;
  }

  if (LoadStartupConfiguration() < 0) {
    std::fprintf(stderr, "tomerack: no usable %s; starting with an empty configuration\n",
                 platform::GbkToUtf8(GetConfigFilePath()).c_str());
  }

  if (HasSwitch(argc, argv, kAutomationSwitch)) {
    std::fprintf(stderr, "tomerack: %s: WebDriver sessions may drive the window (tests only)\n",
                 kAutomationSwitch);
    WriteLogLine("Started with --automation: WebDriver sessions may drive the window");
    WebKitBrowserControl::AllowAutomation(kAutomationName);
  }
  platform::InstallGtkUiLoop();
  GtkWindowFrameFactory factory;
  SetWindowFrameFactory(&factory);
  GtkNotificationFactory notifications;
  SetNotificationFactory(&notifications);
  {
    // The window reads the instance INI file's "DTM" keys and the start
    // page itself; its exit sequence allows the close.
    CDialog_TomeRack window;
    window.modal_ = true;
    if (window.Create()) {
      guint term = g_unix_signal_add(SIGTERM, OnTerminate, &window);
      guint interrupt = g_unix_signal_add(SIGINT, OnTerminate, &window);
      window.frame()->Show();
      platform::StartLoopWatch();
      window.frame()->RunModal();
      platform::StopLoopWatch();
      g_source_remove(term);
      g_source_remove(interrupt);
    }
    CDialogIE::CloseAllWindows();
  }
  HideTopTip();
  SetNotificationFactory(nullptr);
  SetWindowFrameFactory(nullptr);
  ReleaseStartupConfiguration();
  return 0;
}
