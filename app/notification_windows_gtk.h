// The notification windows on GTK. They live on the GTK thread, like every
// window; none is modal, and none takes the keyboard focus when it appears.
// With the message log set (platform/message_box.h) each show, change and
// hide is also logged, as "[tip]", "[messagebox]" and "[toptip]" with the
// text or "(hidden)"; the windows are shown all the same.
#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <string>

#include "app/notification_windows.h"

// Owns a top-level window: destroys it and drops the reference held on it.
struct GtkWindowDeleter {
  void operator()(GtkWidget* window) const;
};
using GtkWindowPtr = std::unique_ptr<GtkWidget, GtkWindowDeleter>;

class GtkNotificationWindows : public NotificationWindows {
 public:
  // owner_handle is the owner's GtkWindow* (GtkWindowFrame::handle()); a
  // handle that names no window of this program, or 0, means no owner.
  explicit GtkNotificationWindows(uintptr_t owner_handle);
  ~GtkNotificationWindows() override;
  GtkNotificationWindows(const GtkNotificationWindows&) = delete;
  GtkNotificationWindows& operator=(const GtkNotificationWindows&) = delete;

  void ShowTip(const std::string& text) override;
  void HideTip() override;
  // Each show with auto_close_ms > 0 (re)starts the auto-close time; a show
  // without one lets the box stay until it is closed.
  void ShowMessageBox(const std::string& text, uint32_t auto_close_ms) override;
  void HideMessageBox() override;

  // The windows and their parts as the user sees them; null before the first
  // show.
  GtkWindow* tip_window() const;
  GtkLabel* tip_label() const { return tip_label_; }
  GtkWindow* message_box() const;
  GtkLabel* message_label() const { return message_label_; }
  GtkButton* message_button() const { return message_button_; }

 private:
  GtkWindow* FindOwner() const;
  void CreateTip();
  void CreateMessageBox();
  void StopAutoClose();
  static gboolean OnAutoClose(gpointer self);
  static void OnMessageButton(GtkButton*, gpointer self);
  static gboolean OnTipDelete(GtkWidget*, GdkEvent*, gpointer self);
  static gboolean OnMessageDelete(GtkWidget*, GdkEvent*, gpointer self);
  static gboolean OnMessageKey(GtkWidget*, GdkEventKey* key, gpointer self);

  uintptr_t owner_handle_;
  GtkWindowPtr tip_;
  GtkLabel* tip_label_ = nullptr;
  GtkWindowPtr message_;
  GtkLabel* message_label_ = nullptr;
  GtkButton* message_button_ = nullptr;
  guint auto_close_ = 0;
};

// The top-most tip: a plain text above every window, centred on the screen.
// Show and Update return once the text is on the screen (or after a short
// bound when the desktop does not draw the window), so that a blocking step
// after them leaves the user a current text; to get there they turn the UI
// loop, as a wait with platform::RunKeepingUiAlive does.
class GtkTopTipWindow : public TopTipWindow {
 public:
  GtkTopTipWindow() = default;
  ~GtkTopTipWindow() override;
  GtkTopTipWindow(const GtkTopTipWindow&) = delete;
  GtkTopTipWindow& operator=(const GtkTopTipWindow&) = delete;

  void Show(const std::string& text) override;
  void Update(const std::string& text) override;
  void Hide() override;
  bool IsShown() const override { return window_ != nullptr; }

  // Null while no tip is shown.
  GtkWindow* window() const { return window_ ? GTK_WINDOW(window_.get()) : nullptr; }
  GtkLabel* label() const { return label_; }

 private:
  void WaitForPaint();
  static gboolean OnLabelDrawn(GtkWidget*, cairo_t*, gpointer self);

  GtkWindowPtr window_;
  GtkLabel* label_ = nullptr;
  unsigned draws_ = 0;
};

class GtkNotificationFactory : public NotificationFactory {
 public:
  std::unique_ptr<NotificationWindows> CreateNotificationWindows(uintptr_t owner_handle) override;
  TopTipWindow& TopTip() override { return top_tip_; }

 private:
  GtkTopTipWindow top_tip_;
};
