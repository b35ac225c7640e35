// The native browser window on GTK 3: a tool row (navigation buttons and the
// address line), the web view, a status row.
#pragma once

#include <gtk/gtk.h>

#include <map>
#include <memory>

#include "browser/webkit_control.h"
#include "browser/window_frame.h"

class GtkWindowFrame : public WindowFrame {
 public:
  GtkWindowFrame(WindowFrameEvents& events, WebBrowserEvents& browser_events);
  ~GtkWindowFrame() override;

  WebBrowserControl& browser() override { return *control_; }
  uintptr_t handle() const override { return reinterpret_cast<uintptr_t>(window_); }
  void SetTitle(const std::string& title) override;
  std::string title() const override;
  void SetStatusText(const std::string& text) override;
  std::string GetAddressText() const override;
  void SetAddressText(const std::string& text) override;
  bool SetIconFromFile(const std::string& path) override;
  void SetBusy(bool playing) override;
  void SetControlsVisible(bool visible) override;
  void Show() override;
  void Hide() override;
  bool IsVisible() const override;
  void Minimize() override;
  void Maximize() override;
  WindowRect GetRect() const override;
  void GetScreenSize(int& width, int& height) const override;
  void SetRect(int x, int y, int width, int height) override;
  void StartTimer(int timer_id, int period_ms) override;
  void StopTimers() override;
  void PostCloseRequest() override;
  void RunModal() override;
  void EndModal() override;
  int MessageBox(const std::string& text, const std::string& caption, int type) override;

  GtkWindow* window() { return window_; }

 private:
  struct Timer;
  static gboolean OnTimer(gpointer data);
  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self);
  static gboolean OnKeyPress(GtkWidget*, GdkEventKey* key, gpointer self);

  WindowFrameEvents& events_;
  std::unique_ptr<WebKitBrowserControl> control_;
  GtkWindow* window_ = nullptr;
  GtkWidget* tool_row_ = nullptr;
  GtkWidget* status_row_ = nullptr;
  GtkWidget* address_ = nullptr;
  GtkWidget* status_ = nullptr;
  GtkWidget* spinner_ = nullptr;
  GMainLoop* modal_loop_ = nullptr;
  unsigned serial_ = 0;
  std::map<int, guint> timers_;
};

class GtkWindowFrameFactory : public WindowFrameFactory {
 public:
  std::unique_ptr<WindowFrame> CreateFrame(WindowFrameEvents& events,
                                           WebBrowserEvents& browser_events) override;
};

// Installs the GTK message box as the application's message box.
void InstallGtkMessageBox();
// The program is ending: every message box running now returns with the
// answer that changes nothing (Cancel, No, or OK), and later ones return so
// at once without showing.
void EndMessageBoxes();
