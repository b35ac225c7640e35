// The client: one instance at a time; applies Config.EF and the instance INI
// file, opens the browser window on the start page and ends when that window
// closes.
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "app/config_file.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "browser/dialog_ie.h"
#include "browser/gtk_frame.h"
#include "browser/gui_sanitizer_defaults.h"
#include "config/parameter_store.h"
#include "config/program_paths.h"
#include "platform/codepage.h"
#include "platform/ini_file.h"
#include "platform/message_box.h"
#include "util/path_names.h"

namespace {

constexpr const char kPromptCaption[] = "提示";

// Absolute paths and URLs are used as they are; other values are relative
// to the program directory.
std::string StartPage() {
  std::string value =
      platform::GetPrivateProfileString("system", "startpage", "", GetInstanceIniPath());
  if (!value.empty()) SetParameter("startpage", value);
  std::string page = GetParameter("startpage");
  if (page.empty()) return JoinPath(GetProgramDirectory(), "DTM/Index.html");
  bool is_url = page.find("://") != std::string::npos;
  bool is_absolute = page[0] == '/' || page[0] == '\\' || (page.size() > 2 && page[1] == ':');
  if (is_url || is_absolute) return page;
  return JoinPath(GetProgramDirectory(), page);
}

// SIGTERM and SIGINT close the window as the user would, so that the web
// processes end with the program.
gboolean OnTerminate(gpointer window) {
  static_cast<CDialogIE*>(window)->frame()->PostCloseRequest();
  return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  if (!CheckProgramDirectory(error)) {
    std::fprintf(stderr, "tomerack: %s\n", error.c_str());
    return 1;
  }
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
  if (!have_display) {
    std::fprintf(stderr, "tomerack: cannot open a display (is DISPLAY set?)\n");
    return 1;
  }

  if (LoadStartupConfiguration() < 0) {
    std::fprintf(stderr, "tomerack: no usable %s; starting with an empty configuration\n",
                 platform::GbkToUtf8(GetConfigFilePath()).c_str());
  }
  ApplyInstanceIni();
  std::string start_page = StartPage();

  GtkWindowFrameFactory factory;
  SetWindowFrameFactory(&factory);
  {
    CDialog_TomeRack window;
    window.modal_ = true;
    window.allow_close_ = true;  // one window for now: closing it ends the program
    if (window.Create()) {
      guint term = g_unix_signal_add(SIGTERM, OnTerminate, &window);
      guint interrupt = g_unix_signal_add(SIGINT, OnTerminate, &window);
      window.NavigateTo(start_page);
      window.frame()->Show();
      window.frame()->RunModal();
      g_source_remove(term);
      g_source_remove(interrupt);
    }
    CDialogIE::CloseAllWindows();
  }
  SetWindowFrameFactory(nullptr);
  ReleaseStartupConfiguration();
  return 0;
}
