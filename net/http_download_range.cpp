// HttpDownloadRange: a package transfer from a byte offset, resumable.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <thread>

#include "net/direct_request.h"
#include "net/request_helpers.h"
#include "net/tls_setting.h"
#include "platform/fault_points.h"
#include "platform/file_system.h"
#include "util/file_io.h"

namespace {

constexpr size_t kRawHeaderBuffer = 6400;

bool IsSuccess(int status) {
  return status >= 200 && status <= 299;
}

uint32_t CurrentThreadId() {
  return static_cast<uint32_t>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
}

bool ParseNumber(const std::string& text, uint64_t& value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  char* end = nullptr;
  value = std::strtoull(text.c_str(), &end, 10);
  return true;
}

// "bytes FIRST-LAST/TOTAL": FIRST, and TOTAL (the number after the last "/").
struct ContentRange {
  bool usable = false;
  uint64_t first = 0;
  uint64_t last = 0;
  uint64_t total = 0;
};

ContentRange ParseContentRange(const std::string& value) {
  ContentRange range;
  size_t slash = value.rfind('/');
  if (slash == std::string::npos) return range;
  ParseNumber(value.substr(slash + 1), range.total);
  size_t digits = value.find_first_of("0123456789");
  if (digits == std::string::npos || digits > slash) return range;
  ParseNumber(value.substr(digits), range.first);
  size_t dash = value.find('-', digits);
  if (dash == std::string::npos || dash > slash || !ParseNumber(value.substr(dash + 1), range.last)) {
    return range;
  }
  range.usable = true;
  return range;
}

int32_t SendFailureCode(const HttpTransfer& transfer) {
  switch (transfer.error_code()) {
    case kNetErrorCannotConnect:
    case kNetErrorNameNotResolved:
    case kNetErrorInvalidUrl:
      return kHttpConnectFailed;
    default:
      return kHttpSendFailed;
  }
}

}  // namespace

int32_t HttpDownloadRange(const std::string& file_path, const std::string& url,
                          uint32_t start_offset, platform::Event* cancel, const char* tag,
                          DownloadProgressCallback callback, void* user_data) {
  DownloadProgress progress;
  progress.tag = tag != nullptr ? tag : "";
  progress.url = url.c_str();
  progress.url_again = url.c_str();
  progress.user_data = user_data;
  progress.thread_id = CurrentThreadId();
  progress.start_offset = start_offset;
  UrlParts parts;
  bool url_ok = AnalyzeUrl(url, parts) == kUrlOk;
  progress.url_parts = &parts;
  CreateParentDirectories(file_path);
  progress.stage = 1;

  int32_t result = kHttpOk;
  // Hands the record to the callback; false when it asks to stop.
  auto report = [&](int stage) {
    progress.stage = stage;
    progress.result = result;
    if (callback != nullptr && callback(&progress) != 0) {
      result = kHttpStoppedByCallback;
      return false;
    }
    return true;
  };

  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kDownloadBlock]);
  platform::File file;
  HttpTransfer transfer;
  std::string raw_headers;
  uint64_t content_length = 0;
  [&] {
    if (!buffer) {
      result = kHttpNoBufferMemory;
      return;
    }
    if (!report(1)) return;
    file = platform::File(file_path, platform::OpenMode::kCreateKeep);
    if (!file.IsOpen()) {
      result = kHttpFileOpenFailed;
      return;
    }
    if (!report(2)) return;
    if (!url_ok) {
      result = kHttpConnectFailed;
      return;
    }
    if (!report(3)) return;

    char range[40];
    std::snprintf(range, sizeof range, "Range: bytes=%u-", start_offset);
    std::vector<std::string> headers = {"Accept: */*", "Pragma: no-cache",
                                        "Cache-Control: no-cache", range};
    TransferSettings settings = DirectTransferSettings();
    // Certificate errors are ignored only where the deployment asked for it.
    settings.tls_check = parts.secure && InsecureTlsAllowed() ? TlsCheck::kIgnoreNameAndDate
                                                              : TlsCheck::kFull;
    settings.receive_chunk = 4 * kDownloadBlock;
    settings.cancel = cancel;
    if (!transfer.Open("GET", TransportUrl(parts), headers, settings)) {
      result = kHttpSendFailed;
      return;
    }
    if (!transfer.Send()) {
      result = transfer.error_code() == kNetErrorCancelled ? kHttpCancelled
                                                            : SendFailureCode(transfer);
      return;
    }
    raw_headers = transfer.raw_headers().substr(0, kRawHeaderBuffer - 1);
    progress.raw_headers = raw_headers.c_str();
    bool go_on = report(4);
    progress.raw_headers = nullptr;
    if (!go_on) return;

    int status = transfer.status();
    if (!IsSuccess(status)) {
      result = kHttpTransportError + status;
      return;
    }
    // Only a partial answer continues at an offset; a 200 is the whole file.
    ContentRange content_range;
    if (status == 206) {
      if (auto value = transfer.Header("Content-Range")) content_range = ParseContentRange(*value);
    }
    auto length_text = transfer.Header("Content-Length");
    if (!length_text || !ParseNumber(*length_text, content_length)) {
      result = kHttpTransportError + kNetErrorHeaderNotFound;
      return;
    }
    // What this answer may write: its Content-Length, and no more than the
    // range it names. libcurl ignores Content-Length for a chunked answer,
    // so the bound is kept here.
    uint64_t declared = content_length;
    if (content_range.usable && content_range.last >= content_range.first) {
      declared = std::min(declared, content_range.last - content_range.first + 1);
    }
    if (content_range.usable) {
      if (content_range.first > start_offset) {
        // Bytes that would leave a gap in the file: not what was asked for.
        result = kHttpTransportError + kNetErrorIncomplete;
        return;
      }
      // Written where they belong, should the server start earlier.
      progress.start_offset = static_cast<uint32_t>(content_range.first);
      progress.has_range = 1;
      progress.total_size = static_cast<uint32_t>(content_range.total);
      progress.content_length = static_cast<uint32_t>(content_length);
    } else {
      progress.start_offset = 0;
      progress.total_size = static_cast<uint32_t>(content_length);
      progress.content_length = static_cast<uint32_t>(content_length);
    }
    if (!report(5)) return;

    if (file.Seek(progress.start_offset) != static_cast<int64_t>(progress.start_offset)) {
      result = kHttpFileSeekFailed;
      return;
    }
    uint64_t received = 0;
    while (true) {
      // Looked at without waiting: a wait on every block would cap the
      // transfer rate.
      if (cancel != nullptr && cancel->Wait(0)) {
        result = kHttpCancelled;
        return;
      }
      int64_t got = transfer.Read(buffer.get(), kDownloadBlock);
      if (got < 0) {
        result = transfer.error_code() == kNetErrorCancelled
                     ? kHttpCancelled
                     : kHttpTransportError + transfer.error_code();
        return;
      }
      if (got == 0) break;
      if (static_cast<uint64_t>(got) > declared - received) {
        // Beyond what the answer declared: the bytes that fit are written,
        // the answer is not trusted.
        got = static_cast<int64_t>(declared - received);
        if (got > 0 && file.Write(buffer.get(), static_cast<size_t>(got))) {
          received += static_cast<uint64_t>(got);
          progress.received = static_cast<uint32_t>(received);
        }
        result = kHttpTransportError + kNetErrorIncomplete;
        return;
      }
      if (!file.Write(buffer.get(), static_cast<size_t>(got))) {
        result = kHttpFileWriteFailed;
        return;
      }
      received += static_cast<uint64_t>(got);
      progress.received = static_cast<uint32_t>(received);
      platform::FaultPoint("transfer", file_path, static_cast<size_t>(got));
      if (!report(6)) return;
    }
    if (received != declared) {
      result = kHttpTransportError + kNetErrorIncomplete;
      return;
    }
    // A whole file sent again over a longer earlier attempt leaves no stale tail.
    if (!file.Truncate(static_cast<int64_t>(progress.start_offset + received))) {
      result = kHttpFileWriteFailed;
    }
  }();

  progress.stage = 7;
  progress.result = result;
  if (callback != nullptr) callback(&progress);
  file.Close();
  return result;
}
