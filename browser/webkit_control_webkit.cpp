#include <gdk/gdkkeysyms.h>

#include <cctype>
#include <cstring>
#include <memory>

#include "browser/download_webkit.h"
#include "browser/host_bridge.h"
#include "browser/host_dispatch.h"
#include "browser/trusted_pages.h"
#include "browser/webkit_control.h"
#include "config/daily_log.h"
#include "config/program_paths.h"
#include "platform/codepage.h"
#include "platform/shared_directory.h"
#include "util/path_names.h"

namespace {

constexpr const char kControlKey[] = "tomerack-control";
constexpr unsigned kKeyF5 = 0x74;

std::string ToGbk(const char* utf8) {
  return utf8 != nullptr ? platform::Utf8ToGbk(utf8) : std::string();
}

// The secret of the host's script world; it only ever buys a key for one
// document, and only for a document the host admits.
const std::string& BridgeSecret() {
  static const std::string secret = NewBridgeToken();
  return secret;
}

void AnswerRequest(WebKitURISchemeRequest* request, int status, std::string body,
                   const char* origin, bool bare_text = false) {
  // The stream owns the answer; a large one is not copied again.
  auto* owned = new std::string(std::move(body));
  const auto size = static_cast<gint64>(owned->size());
  GBytes* bytes = g_bytes_new_with_free_func(
      owned->data(), owned->size(), [](gpointer data) { delete static_cast<std::string*>(data); },
      owned);
  GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
  WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(stream, size);
  webkit_uri_scheme_response_set_status(response, static_cast<guint>(status), nullptr);
  webkit_uri_scheme_response_set_content_type(
      response, bare_text ? "text/plain; charset=utf-8" : "application/json; charset=utf-8");
  SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  soup_message_headers_append(headers, "Access-Control-Allow-Origin",
                              origin != nullptr && *origin != '\0' ? origin : "*");
  soup_message_headers_append(headers, "Cache-Control", "no-store");
  if (bare_text) {
    soup_message_headers_append(headers, kBareTextHeader, "1");
    // The host's half reads the mark across origins.
    soup_message_headers_append(headers, "Access-Control-Expose-Headers", kBareTextHeader);
  }
  webkit_uri_scheme_response_set_http_headers(response, headers);
  webkit_uri_scheme_request_finish_with_response(request, response);
  g_object_unref(response);
  g_object_unref(stream);
  g_bytes_unref(bytes);
}

std::string ReadBody(WebKitURISchemeRequest* request) {
  std::string body;
  GInputStream* stream = webkit_uri_scheme_request_get_http_body(request);
  if (stream == nullptr) return body;
  char buffer[16384];
  for (;;) {
    gssize got = g_input_stream_read(stream, buffer, sizeof buffer, nullptr, nullptr);
    if (got <= 0) break;
    body.append(buffer, static_cast<size_t>(got));
  }
  g_object_unref(stream);
  return body;
}

// Every call of window.external arrives here, on the UI thread, while the
// page waits for the answer.
void OnBridgeRequest(WebKitURISchemeRequest* request, gpointer) {
  WebKitWebView* view = webkit_uri_scheme_request_get_web_view(request);
  WebKitBrowserControl* control = view != nullptr ? WebKitBrowserControl::FromView(view) : nullptr;
  const char* origin = nullptr;
  if (SoupMessageHeaders* headers = webkit_uri_scheme_request_get_http_headers(request)) {
    origin = soup_message_headers_get_one(headers, "Origin");
  }
  const char* method = webkit_uri_scheme_request_get_http_method(request);
  CImpIDispatch* external = control != nullptr && control->events() != nullptr
                                ? control->events()->GetExternal()
                                : nullptr;
  if (external == nullptr || method == nullptr || std::strcmp(method, "POST") != 0) {
    AnswerRequest(request, 403, "{\"e\":\"refused\"}", origin);
    return;
  }
  BridgeCaller caller;
  caller.origin = origin != nullptr ? origin : "";
  caller.admit = [control](const std::string& from, const std::string& url) {
    return control->AdmitsDocument(from, url);
  };
  int status = 200;
  bool bare_text = false;
  std::string answer = AnswerBridgeRequest(*external, BridgeSecret(), control->bridge_keys(),
                                           caller, ReadBody(request), status, bare_text);
  AnswerRequest(request, status, std::move(answer), origin, bare_text);
}

// WebDriver sessions, when a test switched them on.
struct Automation {
  bool allowed = false;
  std::string application_name;
  WebKitWebView* view = nullptr;  // the view the sessions drive; not owned
};

Automation& AutomationState() {
  static Automation state;
  return state;
}

WebKitWebView* OnAutomationCreateView(WebKitAutomationSession*, gpointer) {
  WebKitWebView* view = AutomationState().view;
  WriteLogLine(view != nullptr ? "WebDriver session took the main window"
                               : "WebDriver session found no window to drive");
  return view;
}

void OnAutomationStarted(WebKitWebContext*, WebKitAutomationSession* session, gpointer) {
  WebKitApplicationInfo* info = webkit_application_info_new();
  webkit_application_info_set_name(info, AutomationState().application_name.c_str());
  webkit_automation_session_set_application_info(session, info);
  webkit_application_info_unref(info);
  g_signal_connect(session, "create-web-view", G_CALLBACK(OnAutomationCreateView), nullptr);
}

WebKitWebContext* SharedContext() {
  static WebKitWebContext* context = nullptr;
  if (context != nullptr) return context;
  std::string base = platform::GbkToUtf8(JoinPath(GetSystemDirectoryPath(), "web"));
  std::string cache = platform::GbkToUtf8(JoinPath(GetTempDirectoryPath(), "webcache"));
  if (platform::NewFilesSharedWithGroup()) {
    // In a program directory shared by several accounts each account keeps
    // its own cookies, storage and cache: WebKit makes some of those files
    // readable by their owner only, and one pupil's session is no business
    // of the next.
    base = std::string(g_get_user_data_dir()) + "/tomerack/web";
    cache = std::string(g_get_user_cache_dir()) + "/tomerack/webcache";
  }
  WebKitWebsiteDataManager* data = webkit_website_data_manager_new(
      "base-data-directory", base.c_str(), "base-cache-directory", cache.c_str(), nullptr);
  context = webkit_web_context_new_with_website_data_manager(data);
  g_object_unref(data);
  webkit_web_context_register_uri_scheme(context, kHostBridgeScheme, OnBridgeRequest, nullptr,
                                         nullptr);
  WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
  webkit_security_manager_register_uri_scheme_as_cors_enabled(security, kHostBridgeScheme);
  webkit_security_manager_register_uri_scheme_as_secure(security, kHostBridgeScheme);
  ConnectBrowserDownloads(context);
  if (AutomationState().allowed) {
    webkit_web_context_set_automation_allowed(context, TRUE);
    g_signal_connect(context, "automation-started", G_CALLBACK(OnAutomationStarted), nullptr);
  }
  return context;
}

WebKitUserContentManager* SharedContentManager() {
  static WebKitUserContentManager* manager = webkit_user_content_manager_new();
  return manager;
}

WebKitSettings* SharedSettings() {
  static WebKitSettings* settings = nullptr;
  if (settings == nullptr) {
    settings = webkit_settings_new();
    webkit_settings_set_enable_javascript(settings, TRUE);
    webkit_settings_set_javascript_can_open_windows_automatically(settings, TRUE);
    // A local page reads no other file: not even the shipped pages need to,
    // and a page saved into download/ must not read the user's files.
    webkit_settings_set_allow_file_access_from_file_urls(settings, FALSE);
    webkit_settings_set_allow_universal_access_from_file_urls(settings, FALSE);
    // No hardware-acceleration policy is forced: with compositing switched off,
    // pages under Xvfb were sometimes never painted.
    webkit_settings_set_enable_developer_extras(settings, FALSE);
  }
  return settings;
}

// Builds "var f = window[n]; ... f(a0, a1, ...)" for the argument count; the
// values travel separately, never inside the script text.
std::string CallBody(size_t count) {
  std::string list;
  for (size_t i = 0; i < count; ++i) {
    if (i) list += ", ";
    list += "a" + std::to_string(i);
  }
  return "var f = window[n]; if (typeof f !== 'function') throw new Error('no page function ' + n);"
         " f(" +
         list + "); return true;";
}

constexpr const char kInjectBody[] = R"JS(
function insert(doc) {
  if (!doc) return 2;
  if (!doc.createElement) return 3;
  var all = doc.getElementsByTagName ? doc.getElementsByTagName('*') : null;
  if (!all) return 4;
  if (selector === 'tag') {
    var wanted = String(value).toLowerCase();
    for (var i = 0; i < all.length; i++) {
      var tag = String(all[i].tagName || '').replace(/^[\r\n\t ]+|[\r\n\t ]+$/g, '');
      if (tag.toLowerCase() !== wanted) continue;
      try {
        var element = doc.createElement('script');
        element.innerHTML = script;
        element.setAttribute('type', 'text/javascript');
        all[i].appendChild(element);
        return 0;
      } catch (e) {}
      break;
    }
  }
  var result = 7;
  var frames = doc.defaultView ? doc.defaultView.frames : null;
  for (var j = 0; frames && j < frames.length; j++) {
    var inner = null;
    try { inner = frames[j].document; } catch (e) { continue; }
    result = insert(inner);
    if (result === 0) return 0;
  }
  return result;
}
return insert(document);
)JS";

}  // namespace

namespace {

// What the trust decisions of a view remember. Kept on the view itself, so
// that the bridge and the policy hooks find it from the view alone.
struct ViewTrust {
  // The URI of the document the main frame shows now. The view's own URI
  // already names a page still loading, while the old one can call.
  std::string committed_uri;
  // Addresses the host itself is loading; their navigations are not page
  // content. Each is taken once.
  std::vector<std::string> host_loads;
  // The bridge keys of the documents of the top document shown now.
  BridgeKeys keys;
};

constexpr const char kViewTrustKey[] = "tomerack-trust";

ViewTrust& TrustOf(WebKitWebView* view) {
  auto* trust = static_cast<ViewTrust*>(g_object_get_data(G_OBJECT(view), kViewTrustKey));
  if (trust == nullptr) {
    auto owned = std::make_unique<ViewTrust>();
    trust = owned.get();
    g_object_set_data_full(G_OBJECT(view), kViewTrustKey, owned.release(),
                           [](gpointer data) { delete static_cast<ViewTrust*>(data); });
  }
  return *trust;
}

// File URLs compare by their normalised path, so that the view's spelling of
// an address the host loads still matches it.
std::string LoadKey(const std::string& uri) {
  std::string path;
  return LocalPathOfFileUrl(uri, path) ? "file:" + path : uri;
}

void MarkHostLoad(WebKitWebView* view, const std::string& uri) {
  std::vector<std::string>& loads = TrustOf(view).host_loads;
  if (loads.size() >= 16) loads.erase(loads.begin());
  loads.push_back(LoadKey(uri));
}

bool TakeHostLoad(WebKitWebView* view, const std::string& uri) {
  std::vector<std::string>& loads = TrustOf(view).host_loads;
  for (auto it = loads.begin(); it != loads.end(); ++it) {
    if (*it == LoadKey(uri)) {
      loads.erase(it);
      return true;
    }
  }
  return false;
}

gboolean OnDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type, gpointer);

}  // namespace

void WebKitBrowserControl::AllowAutomation(const std::string& application_name) {
  AutomationState().allowed = true;
  AutomationState().application_name = application_name;
}

WebKitBrowserControl::WebKitBrowserControl() {
  // Only the main window's view, the first one, is driven by sessions.
  Automation& automation = AutomationState();
  bool driven = automation.allowed && automation.view == nullptr;
  view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", SharedContext(),
                                       "user-content-manager", SharedContentManager(), "settings",
                                       SharedSettings(), "is-controlled-by-automation", driven,
                                       nullptr));
  g_object_ref_sink(view_);
  if (driven) automation.view = view_;
  g_object_set_data(G_OBJECT(view_), kControlKey, this);
  RefreshHostScripts();
  g_signal_connect(view_, "load-changed", G_CALLBACK(OnLoadChanged), this);
  g_signal_connect(view_, "notify::title", G_CALLBACK(OnTitleChanged), this);
  g_signal_connect(view_, "mouse-target-changed", G_CALLBACK(OnMouseTarget), this);
  g_signal_connect(view_, "script-dialog", G_CALLBACK(OnScriptDialog), this);
  g_signal_connect(view_, "print", G_CALLBACK(OnPrint), this);
  g_signal_connect(view_, "web-process-terminated", G_CALLBACK(OnWebProcessTerminated), this);
  g_signal_connect(view_, "context-menu", G_CALLBACK(OnContextMenu), this);
  g_signal_connect(view_, "create", G_CALLBACK(OnCreate), this);
  g_signal_connect(view_, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
}

WebKitBrowserControl::~WebKitBrowserControl() {
  if (AutomationState().view == view_) AutomationState().view = nullptr;
  g_signal_handlers_disconnect_by_data(view_, this);
  g_object_set_data(G_OBJECT(view_), kControlKey, nullptr);
  g_object_unref(view_);
}

WebKitBrowserControl* WebKitBrowserControl::FromView(WebKitWebView* view) {
  return static_cast<WebKitBrowserControl*>(g_object_get_data(G_OBJECT(view), kControlKey));
}

namespace {

// The trusted pages the installed scripts were made for, and their patterns;
// one set for all views, since they share one content manager. UI thread
// only. Renewed before each navigation, so that a call from a page is
// checked against the same set that gave it its script, without reading the
// configuration again on every call.
struct InstalledTrust {
  TrustedPages pages;
  std::string patterns;
};

InstalledTrust& Installed() {
  static InstalledTrust installed;
  return installed;
}

}  // namespace

bool WebKitBrowserControl::AdmitsDocument(const std::string& origin, const std::string& url) const {
  const TrustedPages& trusted = Installed().pages;
  // The top document decides for all its frames, and it is the one shown,
  // not the one loading: the page that starts a load still runs meanwhile.
  const std::string& top = TrustOf(view_).committed_uri;
  if (top.empty() || !trusted.IsTrusted(top)) return false;
  // With file access off, a local page is an origin of its own, which
  // WebKit sends as "null" like any opaque origin (a sandboxed frame, a
  // data: document). Such a caller is admitted only as a shipped page
  // under a shipped top page, on the address its host-world script saw.
  if (origin == "null" || origin.rfind("file:", 0) == 0)
    return trusted.IsTrustedLocalFile(url) && trusted.IsTrustedLocalFile(top);
  // A web document is judged by its own origin, which its address must
  // have too.
  WebOrigin from;
  WebOrigin of_url;
  return !origin.empty() && ParseWebOrigin(origin + "/", from) && trusted.IsTrustedOrigin(from) &&
         ParseWebOrigin(url, of_url) && of_url == from;
}

bool WebKitBrowserControl::IsTrustedAddress(const std::string& url) {
  return Installed().pages.IsTrusted(url);
}

BridgeKeys& WebKitBrowserControl::bridge_keys() {
  return TrustOf(view_).keys;
}

void WebKitBrowserControl::RefreshHostScripts() {
  InstalledTrust& installed = Installed();
  installed.pages = CurrentTrustedPages();
  std::vector<std::string> patterns = installed.pages.Patterns();
  std::string joined;
  for (const std::string& pattern : patterns) joined += pattern + "\n";
  if (joined == installed.patterns) return;
  installed.patterns = joined;

  std::vector<const char*> list;
  for (const std::string& pattern : patterns) list.push_back(pattern.c_str());
  list.push_back(nullptr);
  WebKitUserContentManager* manager = SharedContentManager();
  webkit_user_content_manager_remove_all_scripts(manager);
  std::string host_half = BuildBridgeWorldScript(BridgeSecret());
  WebKitUserScript* scripts[] = {
      webkit_user_script_new_for_world(host_half.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                       WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
                                       kHostScriptWorld, list.data(), nullptr),
      webkit_user_script_new(BuildExternalForwarderScript().c_str(),
                             WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                             WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, list.data(), nullptr),
      webkit_user_script_new(BuildNoExternalScript().c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                             WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, list.data())};
  for (WebKitUserScript* script : scripts) {
    webkit_user_content_manager_add_script(manager, script);
    webkit_user_script_unref(script);
  }
}

// Addresses are URLs or local paths; a relative one ("second.html") is taken
// against the page the view shows, as a link in that page would be.
std::string WebKitBrowserControl::ResolveAddress(const std::string& address) const {
  std::string utf8 = platform::GbkToUtf8(address);
  const char* current = webkit_web_view_get_uri(view_);
  if (IsRelativeAddress(utf8) && current != nullptr) {
    if (char* resolved = g_uri_resolve_relative(current, utf8.c_str(), G_URI_FLAGS_NONE, nullptr)) {
      std::string url = resolved;
      g_free(resolved);
      return url;
    }
  }
  return AddressToUrl(utf8);
}

void WebKitBrowserControl::Navigate(const std::string& address, const std::string& target_frame) {
  std::string url = ResolveAddress(address);
  if (target_frame == "_blank") {
    if (events_ == nullptr || !events_->OnNewWindow(platform::Utf8ToGbk(url))) {
      MarkHostLoad(view_, url);
      webkit_web_view_load_uri(view_, url.c_str());
    }
    return;
  }
  RefreshHostScripts();
  MarkHostLoad(view_, url);
  if (home_url_.empty()) home_url_ = url;
  if (target_frame.empty()) {
    webkit_web_view_load_uri(view_, url.c_str());
    return;
  }
  GVariantDict dict;
  g_variant_dict_init(&dict, nullptr);
  g_variant_dict_insert(&dict, "u", "s", url.c_str());
  g_variant_dict_insert(&dict, "t", "s", platform::GbkToUtf8(target_frame).c_str());
  webkit_web_view_call_async_javascript_function(
      view_,
      "var w = window.frames[t]; if (w) { w.location.href = u; } else { window.open(u, t); }", -1,
      g_variant_dict_end(&dict), nullptr, nullptr, nullptr, nullptr, nullptr);
}

namespace {

void MarkHistoryItem(WebKitWebView* view, WebKitBackForwardListItem* item) {
  if (item == nullptr) return;
  if (const char* uri = webkit_back_forward_list_item_get_uri(item)) MarkHostLoad(view, uri);
}

}  // namespace

void WebKitBrowserControl::GoBack() {
  MarkHistoryItem(
      view_, webkit_back_forward_list_get_back_item(webkit_web_view_get_back_forward_list(view_)));
  webkit_web_view_go_back(view_);
}
void WebKitBrowserControl::GoForward() {
  MarkHistoryItem(view_, webkit_back_forward_list_get_forward_item(
                             webkit_web_view_get_back_forward_list(view_)));
  webkit_web_view_go_forward(view_);
}
void WebKitBrowserControl::GoHome() {
  if (home_url_.empty()) return;
  MarkHostLoad(view_, home_url_);
  webkit_web_view_load_uri(view_, home_url_.c_str());
}
void WebKitBrowserControl::GoSearch() {}
void WebKitBrowserControl::Refresh() {
  if (const char* uri = webkit_web_view_get_uri(view_)) MarkHostLoad(view_, uri);
  webkit_web_view_reload(view_);
}
void WebKitBrowserControl::Stop() {
  webkit_web_view_stop_loading(view_);
}

std::string WebKitBrowserControl::LocationURL() const {
  return ToGbk(webkit_web_view_get_uri(view_));
}
bool WebKitBrowserControl::IsBusy() const {
  return webkit_web_view_is_loading(view_);
}
bool WebKitBrowserControl::HasDocument() const {
  return webkit_web_view_get_uri(view_) != nullptr;
}

namespace {

struct CallState {
  std::function<void(bool)> done_call;
  std::function<void(int)> done_inject;
};

void OnCallFinished(GObject* view, GAsyncResult* result, gpointer data) {
  std::unique_ptr<CallState> state(static_cast<CallState*>(data));
  GError* error = nullptr;
  JSCValue* value =
      webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(view), result, &error);
  bool ok = value != nullptr;
  int code = kInjectNotInserted;
  if (value != nullptr) {
    if (jsc_value_is_number(value)) code = jsc_value_to_int32(value);
    g_object_unref(value);
  }
  if (error != nullptr) g_error_free(error);
  if (state->done_call) state->done_call(ok);
  if (state->done_inject) state->done_inject(ok ? code : kInjectNoDocument);
}

}  // namespace

void WebKitBrowserControl::CallPageFunction(const std::string& name,
                                            const std::vector<std::string>& arguments,
                                            std::function<void(bool)> done) {
  if (!HasDocument()) {
    if (done) done(false);
    return;
  }
  GVariantDict dict;
  g_variant_dict_init(&dict, nullptr);
  g_variant_dict_insert(&dict, "n", "s", platform::GbkToUtf8(name).c_str());
  for (size_t i = 0; i < arguments.size(); ++i) {
    g_variant_dict_insert(&dict, ("a" + std::to_string(i)).c_str(), "s",
                          platform::GbkToUtf8(arguments[i]).c_str());
  }
  std::string body = CallBody(arguments.size());
  auto* state = new CallState{std::move(done), nullptr};
  webkit_web_view_call_async_javascript_function(view_, body.c_str(), -1, g_variant_dict_end(&dict),
                                                 nullptr, nullptr, nullptr, OnCallFinished, state);
}

void WebKitBrowserControl::InjectScript(const std::string& selector_name,
                                        const std::string& selector_value,
                                        const std::string& script, std::function<void(int)> done) {
  if (!HasDocument()) {
    if (done) done(kInjectNoDocument);
    return;
  }
  GVariantDict dict;
  g_variant_dict_init(&dict, nullptr);
  g_variant_dict_insert(&dict, "selector", "s", platform::GbkToUtf8(selector_name).c_str());
  g_variant_dict_insert(&dict, "value", "s", platform::GbkToUtf8(selector_value).c_str());
  g_variant_dict_insert(&dict, "script", "s", platform::GbkToUtf8(script).c_str());
  auto* state = new CallState{nullptr, std::move(done)};
  webkit_web_view_call_async_javascript_function(view_, kInjectBody, -1, g_variant_dict_end(&dict),
                                                 nullptr, nullptr, nullptr, OnCallFinished, state);
}

bool WebKitBrowserControl::FilterKey(unsigned keyval, bool control_down) {
  if (events_ == nullptr) return false;
  unsigned key = 0;
  if (keyval == GDK_KEY_F5) {
    key = kKeyF5;
  } else if (keyval < 0x80 && std::isalpha(static_cast<int>(keyval))) {
    key = static_cast<unsigned>(std::toupper(static_cast<int>(keyval)));
  } else {
    return false;
  }
  return events_->OnKeyDown(key, control_down);
}

void WebKitBrowserControl::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event,
                                         gpointer self) {
  auto* control = static_cast<WebKitBrowserControl*>(self);
  if (event == WEBKIT_LOAD_COMMITTED) {
    const char* committed = webkit_web_view_get_uri(view);
    ViewTrust& trust = TrustOf(view);
    trust.committed_uri = committed != nullptr ? committed : "";
    trust.keys.Renew();
  }
  WebBrowserEvents* events = control->events_;
  if (events == nullptr) return;
  std::string uri = ToGbk(webkit_web_view_get_uri(view));
  switch (event) {
    case WEBKIT_LOAD_STARTED:
      control->RefreshHostScripts();
      events->OnDownloadBegin();
      break;
    case WEBKIT_LOAD_COMMITTED:
      events->OnNavigateComplete(uri);
      break;
    case WEBKIT_LOAD_FINISHED:
      events->OnDocumentComplete(uri);
      events->OnDownloadComplete();
      break;
    default:
      break;
  }
}

void WebKitBrowserControl::OnTitleChanged(GObject* view, GParamSpec*, gpointer self) {
  auto* control = static_cast<WebKitBrowserControl*>(self);
  if (control->events_ == nullptr) return;
  const char* title = webkit_web_view_get_title(WEBKIT_WEB_VIEW(view));
  if (title != nullptr && *title != '\0') control->events_->OnTitleChange(ToGbk(title));
}

void WebKitBrowserControl::OnMouseTarget(WebKitWebView*, WebKitHitTestResult* hit, guint,
                                         gpointer self) {
  auto* control = static_cast<WebKitBrowserControl*>(self);
  if (control->events_ == nullptr) return;
  const char* link = webkit_hit_test_result_context_is_link(hit)
                         ? webkit_hit_test_result_get_link_uri(hit)
                         : nullptr;
  control->events_->OnStatusTextChange(ToGbk(link));
}

namespace {

// Whether the document the view shows now is one of the trusted pages.
bool ShowsTrustedPage(WebKitWebView* view) {
  const std::string& committed = TrustOf(view).committed_uri;
  return !committed.empty() && Installed().pages.IsTrusted(committed);
}

}  // namespace

gboolean WebKitBrowserControl::OnScriptDialog(WebKitWebView* view, WebKitScriptDialog* dialog,
                                              gpointer self) {
  auto* control = static_cast<WebKitBrowserControl*>(self);
  WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
  // Leaving a page is never held, whoever asks.
  if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
    webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
    return TRUE;
  }
  // Strangers get no box of ours and never block the window: alert shows
  // nothing, confirm answers Cancel, prompt null (no text set).
  WebBrowserEvents* events = control->events_;
  if (events == nullptr || !ShowsTrustedPage(view)) {
    if (type == WEBKIT_SCRIPT_DIALOG_CONFIRM)
      webkit_script_dialog_confirm_set_confirmed(dialog, FALSE);
    return TRUE;
  }
  const char* title = webkit_web_view_get_title(view);
  std::string caption = title != nullptr && *title != '\0' ? ToGbk(title) : control->LocationURL();
  std::string message = ToGbk(webkit_script_dialog_get_message(dialog));
  switch (type) {
    case WEBKIT_SCRIPT_DIALOG_ALERT:
      events->OnScriptAlert(message, caption);
      break;
    case WEBKIT_SCRIPT_DIALOG_CONFIRM:
      webkit_script_dialog_confirm_set_confirmed(dialog, events->OnScriptConfirm(message, caption));
      break;
    case WEBKIT_SCRIPT_DIALOG_PROMPT:
      // Our message box has no text entry: OK gives the page its own
      // default text, Cancel null.
      if (events->OnScriptConfirm(message, caption)) {
        webkit_script_dialog_prompt_set_text(dialog,
                                             webkit_script_dialog_prompt_get_default_text(dialog));
      }
      break;
    default:
      break;
  }
  return TRUE;  // the page never gets WebKit's own dialog
}

gboolean WebKitBrowserControl::OnPrint(WebKitWebView*, WebKitPrintOperation*, gpointer) {
  // The client has no printing: a page's print() opens nothing.
  return TRUE;
}

// A page whose process died leaves a blank window: say why in the log and
// show the page again, but not over and over for a page that kills its
// process at every load.
void WebKitBrowserControl::OnWebProcessTerminated(WebKitWebView* view,
                                                  WebKitWebProcessTerminationReason reason,
                                                  gpointer self) {
  auto* control = static_cast<WebKitBrowserControl*>(self);
  const char* why = reason == WEBKIT_WEB_PROCESS_CRASHED ? "crashed"
                    : reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT
                        ? "exceeded its memory limit"
                        : "was ended";
  const char* uri = webkit_web_view_get_uri(view);
  WriteLogLine(std::string("The page's process ") + why + " on " + ToGbk(uri));
  if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API || uri == nullptr) return;
  gint64 now = g_get_monotonic_time();
  constexpr gint64 kReloadSpacingUs = 10 * G_USEC_PER_SEC;
  if (control->last_crash_reload_us_ != 0 &&
      now - control->last_crash_reload_us_ < kReloadSpacingUs) {
    WriteLogLine("The page's process died again at once; the page is not shown again");
    return;
  }
  control->last_crash_reload_us_ = now;
  webkit_web_view_reload(view);
}

gboolean WebKitBrowserControl::OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*,
                                             WebKitHitTestResult*, gpointer) {
  return TRUE;
}

GtkWidget* WebKitBrowserControl::OnCreate(WebKitWebView*, WebKitNavigationAction* action,
                                          gpointer self) {
  auto* control = static_cast<WebKitBrowserControl*>(self);
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  const char* uri = request != nullptr ? webkit_uri_request_get_uri(request) : nullptr;
  // The window opens what the page asked for as the host's own load, so the
  // page's right to ask is checked here, before the host takes it over.
  if (uri == nullptr ||
      (!TakeHostLoad(control->view_, uri) &&
       !Installed().pages.PageMayLoad(TrustOf(control->view_).committed_uri, uri))) {
    WriteLogLine(std::string("Refused a new window for ") + (uri != nullptr ? ToGbk(uri) : ""));
    return nullptr;
  }
  if (control->events_ != nullptr && !control->events_->OnNewWindow(ToGbk(uri))) {
    MarkHostLoad(control->view_, uri);
    webkit_web_view_load_uri(control->view_, uri);
  }
  return nullptr;
}

namespace {

// Navigations and new windows the page content asks for (links, forms,
// location changes, window.open, redirects) load no local address unless
// the page showing is a trusted local one; the host's own loads pass.
gboolean OnDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type, gpointer) {
  if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
      type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    return FALSE;
  }
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
      WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  WebKitURIRequest* request =
      action != nullptr ? webkit_navigation_action_get_request(action) : nullptr;
  const char* uri = request != nullptr ? webkit_uri_request_get_uri(request) : nullptr;
  std::string target = uri != nullptr ? uri : "";
  if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
      !webkit_navigation_action_is_redirect(action) && TakeHostLoad(view, target)) {
    return FALSE;
  }
  if (Installed().pages.PageMayLoad(TrustOf(view).committed_uri, target)) return FALSE;
  WriteLogLine("Refused a page's navigation to " + ToGbk(target.c_str()));
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

}  // namespace
