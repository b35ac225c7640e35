#include "browser/download_webkit.h"

#include <gtk/gtk.h>

#include <cstdint>
#include <string>

#include "browser/dialog_ie.h"
#include "browser/download_target.h"
#include "browser/webkit_control.h"
#include "browser/window_frame.h"
#include "config/daily_log.h"
#include "config/program_paths.h"
#include "platform/codepage.h"
#include "platform/message_box.h"
#include "util/file_io.h"
#include "util/path_names.h"

namespace {

constexpr const char kDownloadKey[] = "tomerack-download";
constexpr const char kAnsweredKey[] = "tomerack-answered";
constexpr const char kFailedKey[] = "tomerack-failed";

std::string ToGbk(const char* utf8) {
  return utf8 != nullptr ? platform::Utf8ToGbk(utf8) : std::string();
}

std::string UrlOf(WebKitDownload* download) {
  if (WebKitURIResponse* response = webkit_download_get_response(download)) {
    if (const char* uri = webkit_uri_response_get_uri(response)) return ToGbk(uri);
  }
  WebKitURIRequest* request = webkit_download_get_request(download);
  return request != nullptr ? ToGbk(webkit_uri_request_get_uri(request)) : std::string();
}

std::string ContentDispositionOf(WebKitDownload* download) {
  WebKitURIResponse* response = webkit_download_get_response(download);
  SoupMessageHeaders* headers =
      response != nullptr ? webkit_uri_response_get_http_headers(response) : nullptr;
  return headers != nullptr ? ToGbk(soup_message_headers_get_one(headers, "Content-Disposition"))
                            : std::string();
}

// The toplevel window of the download's view, when the view is one of ours.
GtkWindow* WindowOf(WebKitDownload* download) {
  WebKitWebView* view = webkit_download_get_web_view(download);
  if (view == nullptr || WebKitBrowserControl::FromView(view) == nullptr) return nullptr;
  GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(view));
  return top != nullptr && gtk_widget_is_toplevel(top) && GTK_IS_WINDOW(top) ? GTK_WINDOW(top)
                                                                             : nullptr;
}

void SetDestinationUri(WebKitDownload* download, const char* uri) {
  webkit_download_set_allow_overwrite(download, TRUE);
  webkit_download_set_destination(download, uri);
}

bool SetDestinationPath(WebKitDownload* download, const std::string& path) {
  g_autoptr(GError) error = nullptr;
  g_autofree char* uri = g_filename_to_uri(platform::GbkToUtf8(path).c_str(), nullptr, &error);
  if (uri == nullptr) return false;
  SetDestinationUri(download, uri);
  return true;
}

void OnChooserResponse(GtkDialog* dialog, gint response, gpointer) {
  auto* download = static_cast<WebKitDownload*>(g_object_get_data(G_OBJECT(dialog), kDownloadKey));
  g_object_set_data(G_OBJECT(dialog), kAnsweredKey, GINT_TO_POINTER(1));
  g_autofree char* uri = response == GTK_RESPONSE_ACCEPT
                             ? gtk_file_chooser_get_uri(GTK_FILE_CHOOSER(dialog))
                             : nullptr;
  if (uri != nullptr) {
    SetDestinationUri(download, uri);
    WriteLogLine("browser download: " + UrlOf(download) + " -> " + ToGbk(uri));
  } else {
    WriteLogLine("browser download cancelled: " + UrlOf(download));
    webkit_download_cancel(download);
  }
  gtk_widget_destroy(GTK_WIDGET(dialog));
}

// The dialog also goes with its parent window; a download left without an
// answer would wait for ever.
void OnChooserDestroy(GtkWidget* dialog, gpointer) {
  if (g_object_get_data(G_OBJECT(dialog), kAnsweredKey) != nullptr) return;
  g_object_set_data(G_OBJECT(dialog), kAnsweredKey, GINT_TO_POINTER(1));
  auto* download = static_cast<WebKitDownload*>(g_object_get_data(G_OBJECT(dialog), kDownloadKey));
  WriteLogLine("browser download cancelled: " + UrlOf(download));
  webkit_download_cancel(download);
}

// The download waits until the user has chosen; it is never saved anywhere
// unasked.
void AskForDestination(WebKitDownload* download, GtkWindow* parent, const std::string& name) {
  if (platform::MessageLogIsSet()) {
    // A test run answers in place of the user, as it does for message boxes.
    platform::AppendMessageLog("[filechooser]", name);
    std::string folder = GetDownloadDirectoryPath();
    if (platform::LoggedMessageAnswer(kMessageBoxOkCancel) == kMessageBoxAnswerOk && CreateDirectoryTree(folder) &&
        SetDestinationPath(download, JoinPath(folder, name))) {
      WriteLogLine("browser download: " + UrlOf(download) + " -> " + JoinPath(folder, name));
    } else {
      WriteLogLine("browser download cancelled: " + UrlOf(download));
      webkit_download_cancel(download);
    }
    return;
  }
  std::string title = platform::GbkToUtf8("保存下载的文件");
  std::string cancel = platform::GbkToUtf8("取消(_C)");
  std::string save = platform::GbkToUtf8("保存(_S)");
  GtkWidget* dialog = gtk_file_chooser_dialog_new(
      title.c_str(), parent, GTK_FILE_CHOOSER_ACTION_SAVE, cancel.c_str(), GTK_RESPONSE_CANCEL,
      save.c_str(), GTK_RESPONSE_ACCEPT, nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
  std::string folder = GetDownloadDirectoryPath();
  if (CreateDirectoryTree(folder)) {
    gtk_file_chooser_set_current_folder(chooser, platform::GbkToUtf8(folder).c_str());
  }
  gtk_file_chooser_set_current_name(chooser, platform::GbkToUtf8(name).c_str());
  if (parent != nullptr) {
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);
  }
  g_object_set_data_full(G_OBJECT(dialog), kDownloadKey, g_object_ref(download), g_object_unref);
  g_signal_connect(dialog, "response", G_CALLBACK(OnChooserResponse), nullptr);
  g_signal_connect(dialog, "destroy", G_CALLBACK(OnChooserDestroy), nullptr);
  gtk_widget_show(dialog);
}

// Whether the service asked for the download: a frame of a stranger inside
// a trusted page can start one too, and that is never saved unasked.
bool RequestedByTrustedPage(WebKitDownload* download) {
  WebKitURIRequest* request = webkit_download_get_request(download);
  const char* uri = request != nullptr ? webkit_uri_request_get_uri(request) : nullptr;
  return uri != nullptr && WebKitBrowserControl::IsTrustedAddress(uri);
}

gboolean OnDecideDestination(WebKitDownload* download, gchar*, gpointer) {
  std::string url = UrlOf(download);
  std::string disposition = ContentDispositionOf(download);
  GtkWindow* window = WindowOf(download);
  CDownLoadManager_interface* manager =
      window != nullptr ? FindDownloadByWindow(reinterpret_cast<uintptr_t>(window)) : nullptr;
  if (manager == nullptr || !manager->UseOwnDownloadManager() ||
      !RequestedByTrustedPage(download)) {
    AskForDestination(download, window, DownloadFileNameFor(url, disposition));
    return TRUE;
  }
  DownloadTarget target;
  if (!ResolveDownloadTarget(manager, url, disposition, target) ||
      !SetDestinationPath(download, target.path)) {
    WriteLogLine("browser download refused, no target: " + url + " -> " + target.path);
    webkit_download_cancel(download);
    return TRUE;
  }
  WriteLogLine("browser download: " + url + " -> " + target.path);
  return TRUE;
}

void OnDownloadFailed(WebKitDownload* download, GError* error, gpointer) {
  g_object_set_data(G_OBJECT(download), kFailedKey, GINT_TO_POINTER(1));
  WriteLogLine("browser download failed: " + UrlOf(download) + " (" +
               ToGbk(error != nullptr ? error->message : nullptr) + ")");
}

void OnDownloadFinished(WebKitDownload* download, gpointer) {
  if (g_object_get_data(G_OBJECT(download), kFailedKey) != nullptr) return;
  const char* destination = webkit_download_get_destination(download);
  g_autofree char* path =
      destination != nullptr ? g_filename_from_uri(destination, nullptr, nullptr) : nullptr;
  WriteLogLine("browser download saved: " + ToGbk(path));
}

void OnDownloadStarted(WebKitWebContext*, WebKitDownload* download, gpointer) {
  WriteLogLine("browser download started: " + UrlOf(download));
  g_signal_connect(download, "decide-destination", G_CALLBACK(OnDecideDestination), nullptr);
  g_signal_connect(download, "failed", G_CALLBACK(OnDownloadFailed), nullptr);
  g_signal_connect(download, "finished", G_CALLBACK(OnDownloadFinished), nullptr);
}

}  // namespace

void ConnectBrowserDownloads(WebKitWebContext* context) {
  g_signal_connect(context, "download-started", G_CALLBACK(OnDownloadStarted), nullptr);
}
