// The five blocking request functions through which the program talks HTTP.
//
// Each performs one request on the calling thread, keeps no state between
// calls (so they may run on several threads at once) and reports a result
// code, 0 for success:
//   1008000            transport failure without a more precise code
//   1008000 + status   non-2xx answer (HttpRequestText, HttpRequestToFile,
//                      HttpDownloadRange)
//   1008000 + code     a client error (HttpUploadForm, HttpGetToFile) or a
//                      system error code while reading (HttpDownloadRange)
//   1009000 + status   non-2xx answer (HttpUploadForm, HttpGetToFile)
//   and the specific codes below.
// No function reports success for a transfer that broke off before its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "net/transfer_limits.h"
#include "platform/event.h"

inline constexpr int32_t kHttpOk = 0;
inline constexpr int32_t kHttpTransportError = 1008000;
inline constexpr int32_t kHttpClientStatusBase = 1009000;
inline constexpr int32_t kHttpConnectFailed = 1008001;
inline constexpr int32_t kHttpSendFailed = 1008003;
inline constexpr int32_t kHttpCancelledBeforeAnswer = 1001002;
inline constexpr int32_t kHttpNoBufferMemory = 1002013;
inline constexpr int32_t kHttpStoppedByCallback = 1002020;
inline constexpr int32_t kHttpCancelled = 1002021;
inline constexpr int32_t kHttpFileWriteFailed = 1010002;
inline constexpr int32_t kHttpFileOpenFailed = 1010003;
inline constexpr int32_t kHttpFileSeekFailed = 1010005;

// Failure texts ("http error", "interrupted by the user").
inline constexpr const char kHttpErrorText[] = "http出错";
inline constexpr const char kUserInterruptText[] = "用户中断";

// The user agent of the three functions that talk to the service directly.
inline constexpr const char kBrowserUserAgent[] =
    "Mozilla/4.0 (compatible; MSIE 5.0; Windows NT 5.0)";

using HttpFieldMap = std::map<std::string, std::string>;

// "http://host" + path, with ":port" after the host unless the port is 80.
std::string UploadFormUrl(const std::string& host, int port, const std::string& path);

// Multipart POST of text fields and files (file fields name file paths) to
// http://host[:port]path; extra_headers may be null. The answer comes back as
// ANSI text (converted when its Content-Type names UTF-8); an answer over
// kMostTextAnswerBytes is refused with kHttpNoBufferMemory.
int32_t HttpUploadForm(std::string& answer, const HttpFieldMap& text_fields,
                       const HttpFieldMap& file_fields, const std::string& host, int port,
                       const std::string& path, std::string& error_text,
                       const HttpFieldMap* extra_headers = nullptr);

// GET of url. The body goes to file_path (when not empty; written only for a
// 2xx answer, and only once it has arrived whole, so an earlier file of that
// name survives a failed transfer) and, when the answer is "text/...", to
// *text. cancel (may be null) ends the request whenever it is set: before
// an answer exists with kHttpCancelledBeforeAnswer, later with 1008000 and
// kUserInterruptText. A text over kMostTextAnswerBytes, or a body over
// most_body_bytes, fails with 1008000 + kErrOutOfMemory.
inline constexpr uint64_t kAnyBodySize = UINT64_MAX;
int32_t HttpGetToFile(platform::Event* cancel, bool use_utf8, std::string* text, bool* is_text,
                      const std::string& file_path, std::string* status_text,
                      const std::string& url, uint64_t most_body_bytes = kAnyBodySize);

// Any verb with an optional body and extra header lines (CR LF separated);
// the UTF-8 answer comes back as ANSI text. An answer over
// kMostTextAnswerBytes fails with kHttpNoBufferMemory and no text.
int32_t HttpRequestText(std::string& answer, const std::string& verb, const std::string& url,
                        const void* body = nullptr, size_t body_count = 0,
                        const std::string& extra_headers = {});

// Any verb; a 2xx answer's body goes to the file (parent directories made).
int32_t HttpRequestToFile(const std::string& verb, const std::string& url,
                          const std::string& file_path);

struct UrlParts;

// What HttpDownloadRange reports to its callback.
struct DownloadProgress {
  const char* tag = "";
  const char* url = "";
  const char* url_again = "";
  void* user_data = nullptr;
  uint32_t thread_id = 0;
  uint32_t total_size = 0;
  uint32_t start_offset = 0;
  uint32_t content_length = 0;
  uint32_t received = 0;
  uint8_t has_range = 0;
  int32_t result = 0;
  // 1 starting, 2 internet handle opened, 3 connected, 4 request sent,
  // 5 answer headers read, 6 receiving, 7 finished
  int32_t stage = 0;
  const UrlParts* url_parts = nullptr;
  const char* raw_headers = nullptr;  // during the stage-4 call only
};

// Returns non-zero to stop the transfer.
using DownloadProgressCallback = int (*)(DownloadProgress* progress);

inline constexpr size_t kDownloadBlock = 102400;

// GET from start_offset on, written into file_path from that offset (from 0
// when the server sends the whole file). The file is not truncated, so an
// interrupted transfer keeps its bytes and a later call resumes it. cancel
// (may be null) ends the transfer within kCancelCheckMs, also while a read
// waits. Nothing is written past the length the answer declared; an answer
// that goes on beyond it fails.
int32_t HttpDownloadRange(const std::string& file_path, const std::string& url,
                          uint32_t start_offset, platform::Event* cancel, const char* tag,
                          DownloadProgressCallback callback, void* user_data);
