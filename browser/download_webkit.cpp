#include "browser/download_webkit.h"

#include <string>

#include "config/daily_log.h"
#include "platform/codepage.h"

namespace {

// The window's own download manager takes them over later; for now they are
// recorded and left to WebKit.
void OnDownloadStarted(WebKitWebContext*, WebKitDownload* download, gpointer) {
  WebKitURIRequest* request = webkit_download_get_request(download);
  const char* uri = request != nullptr ? webkit_uri_request_get_uri(request) : nullptr;
  WriteLogLine("browser download: " + (uri != nullptr ? platform::Utf8ToGbk(uri) : std::string()));
}

}  // namespace

void ConnectBrowserDownloads(WebKitWebContext* context) {
  g_signal_connect(context, "download-started", G_CALLBACK(OnDownloadStarted), nullptr);
}
