// The web view of a browser window on WebKitGTK: navigation and its events,
// window.external over a private URI scheme, page calls and script
// insertion.
#pragma once

#include <webkit2/webkit2.h>

#include <string>
#include <vector>

#include "browser/host_bridge.h"
#include "browser/web_browser_control.h"

class WebKitBrowserControl : public WebBrowserControl {
 public:
  WebKitBrowserControl();
  ~WebKitBrowserControl() override;
  WebKitBrowserControl(const WebKitBrowserControl&) = delete;
  WebKitBrowserControl& operator=(const WebKitBrowserControl&) = delete;

  GtkWidget* widget() { return GTK_WIDGET(view_); }
  WebKitWebView* view() { return view_; }

  void SetEvents(WebBrowserEvents* events) override { events_ = events; }
  void Navigate(const std::string& address, const std::string& target_frame = "") override;
  void GoBack() override;
  void GoForward() override;
  void GoHome() override;
  void GoSearch() override;
  void Refresh() override;
  void Stop() override;
  std::string LocationURL() const override;
  bool IsBusy() const override;
  bool HasDocument() const override;
  void SetSilent(bool silent) override { silent_ = silent; }
  void CallPageFunction(const std::string& name, const std::vector<std::string>& arguments,
                        std::function<void(bool)> done = nullptr) override;
  void InjectScript(const std::string& selector_name, const std::string& selector_value,
                    const std::string& script, std::function<void(int)> done = nullptr) override;

  WebBrowserEvents* events() { return events_; }
  // The key the view swallows (F5, Ctrl+O/P/N), asked of the window.
  bool FilterKey(unsigned keyval, bool control_down);
  // Takes the trusted pages from the configuration again and renews the
  // window.external scripts when they changed.
  static void RefreshHostScripts();
  // The control of a view made by this class, or null.
  static WebKitBrowserControl* FromView(WebKitWebView* view);
  // Whether a document of the view, of that origin (the Origin its requests
  // carry) at that address, may have window.external now.
  bool AdmitsDocument(const std::string& origin, const std::string& url) const;
  // Whether an address (UTF-8) is one of the trusted pages, as the scripts
  // installed now know them.
  static bool IsTrustedAddress(const std::string& url);
  // The bridge keys of the documents the view shows now.
  BridgeKeys& bridge_keys();
  // Lets WebDriver sessions drive the first view made from now on (the main
  // window's). For tests only: call before any view exists; the session's
  // browserName must equal application_name.
  static void AllowAutomation(const std::string& application_name);

 private:
  std::string ResolveAddress(const std::string& address) const;

  static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
  static void OnTitleChanged(GObject* view, GParamSpec*, gpointer self);
  static void OnMouseTarget(WebKitWebView*, WebKitHitTestResult* hit, guint, gpointer self);
  static gboolean OnScriptDialog(WebKitWebView* view, WebKitScriptDialog* dialog, gpointer self);
  static gboolean OnPrint(WebKitWebView*, WebKitPrintOperation*, gpointer);
  static void OnWebProcessTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason reason,
                                     gpointer self);
  static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*,
                                gpointer);
  static GtkWidget* OnCreate(WebKitWebView* view, WebKitNavigationAction* action, gpointer self);

  WebKitWebView* view_ = nullptr;
  gint64 last_crash_reload_us_ = 0;  // when a dead page process last had its page shown again
  WebBrowserEvents* events_ = nullptr;
  bool silent_ = false;
  std::string home_url_;
};
