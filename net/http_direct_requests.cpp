// HttpRequestText and HttpRequestToFile: service requests with a verb of
// the caller's choice.
#include <cstring>
#include <vector>

#include "net/direct_request.h"
#include "net/request_helpers.h"
#include "net/transfer_limits.h"
#include "platform/file_system.h"
#include "util/file_io.h"
#include "util/text_encoding.h"

namespace {

constexpr size_t kReadBlock = 65536;

bool IsSuccess(int status) {
  return status >= 200 && status <= 299;
}

std::vector<std::string> BaseHeaders() {
  return {"Accept: */*", "Content-Type: text/plain;charset:utf-8"};
}

// Sends and checks the status; 0, or the result code of the failure.
int32_t SendAndCheck(HttpTransfer& transfer) {
  // A failed send is not looked at on its own: without a status it fails.
  (void)transfer.Send();
  if (!transfer.has_status()) return kHttpTransportError;
  if (!IsSuccess(transfer.status())) return kHttpTransportError + transfer.status();
  return kHttpOk;
}

}  // namespace

int32_t HttpRequestText(std::string& answer, const std::string& verb, const std::string& url,
                        const void* body, size_t body_count, const std::string& extra_headers) {
  answer.clear();
  std::vector<std::string> headers = BaseHeaders();
  if (extra_headers.size() > 2) AddOrReplaceHeaders(headers, SplitHeaderText(extra_headers));

  HttpTransfer transfer;
  UrlParts parts;
  if (!OpenDirectRequest(transfer, verb, url, headers, parts, DirectTransferSettings())) {
    return kHttpTransportError;
  }
  if (body != nullptr && body_count > 0) {
    transfer.SetBody(std::string(static_cast<const char*>(body), body_count));
  }
  int32_t result = SendAndCheck(transfer);
  std::string collected;
  if (result == kHttpOk) {
    std::vector<char> block(kReadBlock);
    while (true) {
      int64_t got = transfer.Read(block.data(), block.size());
      if (got < 0) {
        // A cut-off answer is not an answer: the caller retries.
        result = kHttpTransportError;
        break;
      }
      if (got == 0) break;
      const void* zero = std::memchr(block.data(), '\0', static_cast<size_t>(got));
      size_t keep = zero ? static_cast<const char*>(zero) - block.data() : static_cast<size_t>(got);
      collected.append(block.data(), keep);
      if (collected.size() > kMostTextAnswerBytes) {
        // More than any service answer: a fault, not something to hold.
        collected.clear();
        result = kHttpNoBufferMemory;
        break;
      }
    }
  }
  if (!Utf8ToAnsi(collected, answer)) answer.clear();
  return result;
}

int32_t HttpRequestToFile(const std::string& verb, const std::string& url,
                          const std::string& file_path) {
  HttpTransfer transfer;
  UrlParts parts;
  if (!OpenDirectRequest(transfer, verb, url, BaseHeaders(), parts, DirectTransferSettings())) {
    return kHttpTransportError;
  }
  int32_t result = SendAndCheck(transfer);
  if (result != kHttpOk) return result;

  CreateParentDirectories(file_path);
  // Written beside the target and renamed over it once complete, so a broken
  // transfer never leaves a cut-off file that looks like a finished one.
  std::string temp = file_path + ".part";
  platform::File file(temp, platform::OpenMode::kCreateTruncate);
  if (!file.IsOpen()) return kHttpTransportError;
  std::vector<char> block(kReadBlock);
  while (true) {
    int64_t got = transfer.Read(block.data(), block.size());
    if (got == 0) break;
    if (got < 0 || !file.Write(block.data(), static_cast<size_t>(got))) {
      result = kHttpTransportError;
      break;
    }
  }
  bool closed = file.Close();
  if (result == kHttpOk && (!closed || !platform::RenamePath(temp, file_path))) {
    result = kHttpTransportError;
  }
  if (result != kHttpOk) platform::RemoveFile(temp);
  return result;
}
