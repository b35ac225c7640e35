// Where a download that a page starts is saved: the file name from the URL
// or the answer's Content-Disposition, the directory from the window's
// download manager or the program's download folder. Texts are GBK.
//
// A name is always one plain component inside the target directory: pages
// and servers choose it, so nothing they send may lead out of that directory.
#pragma once

#include <string>

class CDownLoadManager_interface;

inline constexpr const char kUnknownDownloadName[] = "UNKNOWN";

// A file name and its extension: the text from the name's first dot, the dot
// included, or empty.
struct DownloadFileName {
  std::string name;
  std::string extension;
};

// The last segment of the URL's path: query and fragment dropped, one
// trailing "/" ignored, escapes decoded (UTF-8 runs into GBK). Empty when
// the URL has no path or the segment is not a plain name.
DownloadFileName DownloadNameFromUrl(const std::string& url);

// The name a Content-Disposition value gives: filename*= (UTF-8 or
// ISO-8859-1) before filename=, any directory part dropped. Empty when there
// is none or it is not a plain name.
DownloadFileName DownloadNameFromContentDisposition(const std::string& header);

// The text after the last "/" or "\"; empty for "", "." and ".." and for
// names holding control characters.
std::string PlainFileName(const std::string& name);

// The URL's name, or the header's when the URL gives no name or no
// extension, or UNKNOWN.
std::string DownloadFileNameFor(const std::string& url, const std::string& content_disposition);

struct DownloadTarget {
  std::string directory;
  std::string name;
  std::string path;  // directory joined with name
};

// The file a download of url is saved to. manager may be null (no window);
// a name it gives replaces the found name but keeps its last extension, a
// directory it gives replaces the program's download folder. The directory
// is created; false when it cannot be.
[[nodiscard]] bool ResolveDownloadTarget(CDownLoadManager_interface* manager,
                                         const std::string& url,
                                         const std::string& content_disposition,
                                         DownloadTarget& target);
