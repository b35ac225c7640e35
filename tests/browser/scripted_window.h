// A browser window's native parts played in memory: the control records what
// the window asks of it, the frame records geometry and close requests, and
// a test drives the events by hand.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "browser/window_frame.h"

struct ScriptedCall {
  std::string name;
  std::vector<std::string> arguments;
};

class ScriptedControl : public WebBrowserControl {
 public:
  void SetEvents(WebBrowserEvents* events) override { events_ = events; }
  void Navigate(const std::string& address, const std::string& target = "") override {
    navigations.push_back(target.empty() ? address : address + " @" + target);
    location = address;
  }
  void GoBack() override { actions.push_back("back"); }
  void GoForward() override { actions.push_back("forward"); }
  void GoHome() override { actions.push_back("home"); }
  void GoSearch() override { actions.push_back("search"); }
  void Refresh() override { actions.push_back("refresh"); }
  void Stop() override { actions.push_back("stop"); }
  std::string LocationURL() const override { return location; }
  bool IsBusy() const override { return false; }
  bool HasDocument() const override { return !location.empty(); }
  void SetSilent(bool value) override { silent = value; }
  void CallPageFunction(const std::string& name, const std::vector<std::string>& arguments,
                        std::function<void(bool)> done = nullptr) override {
    calls.push_back({name, arguments});
    if (done) done(true);
  }
  void InjectScript(const std::string& selector_name, const std::string& selector_value,
                    const std::string& script, std::function<void(int)> done = nullptr) override {
    injected.push_back(selector_name + "=" + selector_value + ":" + script);
    if (done) done(0);
  }

  WebBrowserEvents* events_ = nullptr;
  std::vector<std::string> navigations;
  std::vector<std::string> actions;
  std::vector<ScriptedCall> calls;
  std::vector<std::string> injected;
  std::string location;
  bool silent = false;
};

class ScriptedFrame : public WindowFrame {
 public:
  explicit ScriptedFrame(WindowFrameEvents& window_events) : events(window_events) {
    static uintptr_t next_handle = 0x1000;
    handle_ = next_handle++;
  }
  WebBrowserControl& browser() override { return control; }
  uintptr_t handle() const override { return handle_; }
  void SetTitle(const std::string& text) override { title_ = text; }
  std::string title() const override { return title_; }
  void SetStatusText(const std::string& text) override { status = text; }
  std::string GetAddressText() const override { return address; }
  void SetAddressText(const std::string& text) override { address = text; }
  bool SetIconFromFile(const std::string& path) override {
    icon = path;
    return icon_loads;
  }
  void SetBusy(bool playing) override { busy = playing; }
  void SetControlsVisible(bool shown) override { controls_visible = shown; }
  void Show() override { visible = true; }
  void Hide() override { visible = false; }
  bool IsVisible() const override { return visible; }
  void Minimize() override { state = "minimized"; }
  void Maximize() override { state = "maximized"; }
  WindowRect GetRect() const override { return rect; }
  void GetScreenSize(int& width, int& height) const override {
    width = 1280;
    height = 1024;
  }
  void SetRect(int x, int y, int width, int height) override {
    rect = {x, y, x + width - 1, y + height - 1};
    visible = true;
  }
  void StartTimer(int id, int period) override { timers.push_back({id, period}); }
  void StopTimers() override { timers.clear(); }
  void PostCloseRequest() override { ++close_requests; }
  void RunModal() override { modal_running = true; }
  void EndModal() override { modal_running = false; }
  int MessageBox(const std::string& text, const std::string& caption, int) override {
    messages.push_back(caption + "|" + text);
    if (answers.empty()) return kMessageBoxAnswerOk;
    int answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  }

  WindowFrameEvents& events;
  ScriptedControl control;
  std::string title_, status, address, icon, state;
  bool icon_loads = true;
  bool busy = false, controls_visible = true, visible = false, modal_running = false;
  WindowRect rect{100, 50, 100 + 640 - 1, 50 + 480 - 1};
  std::vector<std::pair<int, int>> timers;
  int close_requests = 0;
  std::vector<std::string> messages;
  std::vector<int> answers;  // given to the next message boxes in turn

 private:
  uintptr_t handle_ = 0;
};

// Hands out scripted frames and remembers the last one.
class ScriptedFrameFactory : public WindowFrameFactory {
 public:
  std::unique_ptr<WindowFrame> CreateFrame(WindowFrameEvents& events, WebBrowserEvents&) override {
    auto frame = std::make_unique<ScriptedFrame>(events);
    last = frame.get();
    return frame;
  }
  ScriptedFrame* last = nullptr;
};
