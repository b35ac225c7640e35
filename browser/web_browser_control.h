// What the browser windows use of the web view, and what it tells them. One
// implementation drives WebKitGTK; tests of window logic use a scripted one.
// Texts are GBK unless a comment says otherwise.
#pragma once

#include <functional>
#include <string>
#include <vector>

class CImpIDispatch;

// Raised on the window's thread in the order in which a page loads.
class WebBrowserEvents {
 public:
  virtual ~WebBrowserEvents() = default;
  virtual void OnStatusTextChange(const std::string& text) = 0;
  virtual void OnTitleChange(const std::string& title) = 0;
  virtual void OnDownloadBegin() = 0;
  virtual void OnNavigateComplete(const std::string& url) = 0;
  virtual void OnDocumentComplete(const std::string& url) = 0;
  virtual void OnDownloadComplete() = 0;
  // A page asked for a new window for url; true when the host dealt with it
  // (nothing else opens), false to load it in this view instead.
  virtual bool OnNewWindow(const std::string& url) = 0;
  // A page's alert(); caption is the page's caption.
  virtual void OnScriptAlert(const std::string& text, const std::string& caption) = 0;
  // A page's confirm() (and prompt(), which has no text entry of ours);
  // true is the page's OK. Raised for trusted pages only.
  virtual bool OnScriptConfirm(const std::string& text, const std::string& caption) = 0;
  // A key went down in the page (Windows virtual-key code: letters as upper
  // case ASCII, F5 as 0x74); true swallows it.
  virtual bool OnKeyDown(unsigned key, bool control_down) = 0;
  // The page's window.external; null gives the page none.
  virtual CImpIDispatch* GetExternal() = 0;
};

// Codes of InjectScript.
enum InjectScriptResult {
  kInjectInserted = 0,
  kInjectNoBrowser = 1,
  kInjectNoDocument = 2,
  kInjectNotHtml = 3,
  kInjectNoElements = 4,
  kInjectNotInserted = 7,
};

class WebBrowserControl {
 public:
  virtual ~WebBrowserControl() = default;

  virtual void SetEvents(WebBrowserEvents* events) = 0;

  // Loads an address: a URL, or a local path. With a target frame name the
  // address opens in that frame; "_blank" asks for a new window.
  virtual void Navigate(const std::string& address, const std::string& target_frame = "") = 0;
  virtual void GoBack() = 0;
  virtual void GoForward() = 0;
  virtual void GoHome() = 0;
  virtual void GoSearch() = 0;
  virtual void Refresh() = 0;
  virtual void Stop() = 0;

  virtual std::string LocationURL() const = 0;
  virtual bool IsBusy() const = 0;
  virtual bool HasDocument() const = 0;
  // The control shows no dialogs of its own when silent.
  virtual void SetSilent(bool silent) = 0;

  // Calls the page's global function by name with text arguments in order.
  // done (optional) learns whether the call happened without an exception.
  virtual void CallPageFunction(const std::string& name, const std::vector<std::string>& arguments,
                                std::function<void(bool)> done = nullptr) = 0;
  // Appends a script element with the text to the first element whose tag
  // name is selector_value (only the selector "tag" is known), looking into
  // frames when the document has none. done learns the InjectScriptResult.
  virtual void InjectScript(const std::string& selector_name, const std::string& selector_value,
                            const std::string& script, std::function<void(int)> done = nullptr) = 0;
};
