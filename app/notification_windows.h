// The small native windows through which the program talks to the user
// besides the page: the tip window (large red text while a book is being
// uninstalled or repaired), the message box (red text with an OK button,
// optionally closing by itself) and the top-most tip (above every window,
// while the user signs in and while the program exits).
//
// All of them live on the UI thread; workers never call them, they post to
// the main window, which does. Texts are GBK.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

inline constexpr const char kNotificationCaption[] = "提示";

// The tip window and the message box of one owner window. Each is created
// on first use and kept until this object goes.
class NotificationWindows {
 public:
  virtual ~NotificationWindows() = default;
  // Shows the tip window with text, creating it centred on the owner the
  // first time; a shown tip takes the new text.
  virtual void ShowTip(const std::string& text) = 0;
  // Hides the tip window if it exists.
  virtual void HideTip() = 0;
  // Shows the message box with text. auto_close_ms > 0 hides it by itself
  // after that time.
  virtual void ShowMessageBox(const std::string& text, uint32_t auto_close_ms) = 0;
  virtual void HideMessageBox() = 0;
};

// The top-most tip: one for the whole program, centred on the screen.
class TopTipWindow {
 public:
  virtual ~TopTipWindow() = default;
  // Shows the tip with text in a freshly created, centred window (an old
  // one goes first).
  virtual void Show(const std::string& text) = 0;
  // Changes the text of the shown tip; shows one when none is shown.
  virtual void Update(const std::string& text) = 0;
  // Hides and destroys the tip; nothing when none is shown.
  virtual void Hide() = 0;
  virtual bool IsShown() const = 0;
};

// Makes the native windows; the GUI installs the GTK one, tests their own.
class NotificationFactory {
 public:
  virtual ~NotificationFactory() = default;
  // owner_handle is the WindowFrame::handle() of the owner window.
  virtual std::unique_ptr<NotificationWindows> CreateNotificationWindows(uintptr_t owner_handle) = 0;
  virtual TopTipWindow& TopTip() = 0;
};

void SetNotificationFactory(NotificationFactory* factory);
NotificationFactory* GetNotificationFactory();

// The process-wide top-most tip through the installed factory; nothing
// without one.
void ShowTopTip(const std::string& text);
void UpdateTopTip(const std::string& text);
void HideTopTip();
