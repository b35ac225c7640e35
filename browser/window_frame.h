// The native window around a browser: title, status line, address line,
// buttons, show states, geometry, timers, message boxes and the close
// request. The GTK implementation builds one per browser window; tests use a
// scripted one. Texts are GBK.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "browser/web_browser_control.h"

// Ids of the plain window's buttons.
enum BrowserButton {
  kButtonBrowse = 1076,
  kButtonBack = 1004,
  kButtonForward = 1005,
  kButtonStop = 1006,
  kButtonRefresh = 1007,
  kButtonHome = 1008,
  kButtonSearch = 1011,
};

struct WindowRect {
  int left = 0;
  int top = 0;
  int right = 0;   // inclusive, as the Windows rectangle's right - 1
  int bottom = 0;  // inclusive
};

// Message box types and answers, as the Windows constants.
inline constexpr int kMessageBoxOk = 0x00000000;
inline constexpr int kMessageBoxOkCancel = 0x00000001;
inline constexpr int kMessageBoxYesNo = 0x00000004;
inline constexpr int kMessageBoxIconError = 0x00000010;
inline constexpr int kMessageBoxIconInformation = 0x00000040;
inline constexpr int kMessageBoxAnswerOk = 1;
inline constexpr int kMessageBoxAnswerCancel = 2;
inline constexpr int kMessageBoxAnswerYes = 6;
inline constexpr int kMessageBoxAnswerNo = 7;

// What the frame tells its window, on the window's thread.
class WindowFrameEvents {
 public:
  virtual ~WindowFrameEvents() = default;
  virtual void OnButton(int id) = 0;
  // Enter in the address line.
  virtual void OnAddressEnter() = 0;
  // The user or a posted request asks the window to close.
  virtual void OnCloseRequest() = 0;
  virtual void OnTimer(int timer_id) = 0;
};

class WindowFrame {
 public:
  virtual ~WindowFrame() = default;

  virtual WebBrowserControl& browser() = 0;
  // Identifies the native window; the registry looks windows up by it.
  virtual uintptr_t handle() const = 0;

  virtual void SetTitle(const std::string& title) = 0;
  virtual std::string title() const = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  virtual std::string GetAddressText() const = 0;
  virtual void SetAddressText(const std::string& text) = 0;
  // False when the file is not a usable icon; the window keeps its icon.
  virtual bool SetIconFromFile(const std::string& path) = 0;
  // The busy indicator: playing while a page loads.
  virtual void SetBusy(bool playing) = 0;
  // Hides every control but the page (pop-up and main windows).
  virtual void SetControlsVisible(bool visible) = 0;

  virtual void Show() = 0;
  virtual void Hide() = 0;
  virtual bool IsVisible() const = 0;
  virtual void Minimize() = 0;
  virtual void Maximize() = 0;
  virtual WindowRect GetRect() const = 0;
  virtual void GetScreenSize(int& width, int& height) const = 0;
  // Moves and sizes the outer window and shows it.
  virtual void SetRect(int x, int y, int width, int height) = 0;

  virtual void StartTimer(int timer_id, int period_ms) = 0;
  virtual void StopTimers() = 0;
  // Queues a close request; it is handled later on the window's thread, and
  // not at all once the window is gone.
  virtual void PostCloseRequest() = 0;
  // Runs until EndModal (modal windows).
  virtual void RunModal() = 0;
  virtual void EndModal() = 0;

  virtual int MessageBox(const std::string& text, const std::string& caption, int type) = 0;
};

// Makes the native part of a browser window; set once by the program (GTK)
// or by tests.
class WindowFrameFactory {
 public:
  virtual ~WindowFrameFactory() = default;
  virtual std::unique_ptr<WindowFrame> CreateFrame(WindowFrameEvents& events,
                                                   WebBrowserEvents& browser_events) = 0;
};

void SetWindowFrameFactory(WindowFrameFactory* factory);
WindowFrameFactory* GetWindowFrameFactory();
