// HttpUploadForm and HttpGetToFile: the request functions built on the
// HTTP client.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "net/http_client.h"
#include "net/request_helpers.h"
#include "platform/file_system.h"
#include "util/text_encoding.h"

namespace {

using Vexan::CHttpClientT;
using Vexan::CHttpResponseT;
using Vexan::httpclientexceptionA;

constexpr size_t kUploadStep = 10240;
constexpr size_t kGetBlock = 307199;

bool IsSuccess(int status) {
  return status >= 200 && status <= 299;
}

std::string CutAtZero(const char* data, size_t size) {
  const void* zero = std::memchr(data, '\0', size);
  return std::string(data, zero ? static_cast<const char*>(zero) - data : size);
}

bool NamesUtf8(const char* content_type) {
  if (content_type == nullptr) return false;
  std::string upper = content_type;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper.find("UTF-8") != std::string::npos;
}

// The body of a download goes to a file beside the target and replaces the
// target only once it is complete.
class PendingFile {
 public:
  explicit PendingFile(std::string target) : target_(std::move(target)) {}
  ~PendingFile() { Discard(); }

  // False when the file cannot be created; the transfer goes on without it.
  bool Write(const char* data, size_t size) {
    if (failed_) return true;
    if (!file_.IsOpen()) {
      file_ = platform::File(TempPath(), platform::OpenMode::kCreateTruncate);
      if (!file_.IsOpen()) {
        failed_ = true;
        return true;
      }
    }
    return file_.Write(data, size);
  }
  bool Commit() {
    if (!file_.IsOpen()) return true;
    bool closed = file_.Close();
    if (!closed || !platform::RenamePath(TempPath(), target_)) return false;
    return true;
  }
  void Discard() {
    if (file_.IsOpen()) {
      file_.Close();
      platform::RemoveFile(TempPath());
    }
  }
  const std::string& target() const { return target_; }

 private:
  std::string TempPath() const { return target_ + ".part"; }
  std::string target_;
  platform::File file_;
  bool failed_ = false;
};

}  // namespace

std::string UploadFormUrl(const std::string& host, int port, const std::string& path) {
  return port == 80 ? "http://" + host + path
                    : "http://" + host + ":" + std::to_string(port) + path;
}

int32_t HttpUploadForm(std::string& answer, const HttpFieldMap& text_fields,
                       const HttpFieldMap& file_fields, const std::string& host, int port,
                       const std::string& path, std::string& error_text,
                       const HttpFieldMap* extra_headers) {
  CHttpClientT client;
  std::unique_ptr<CHttpResponseT> response;
  int32_t result = kHttpTransportError;
  try {
    client.SetUseUtf8(false);
    for (const auto& [name, value] : text_fields) client.AddParam(name.c_str(), value.c_str(), 0);
    for (const auto& [name, value] : file_fields) {
      client.AddParam(name.c_str(), value.c_str(), Vexan::CHttpClientMapT::kFileFlag);
    }
    if (extra_headers != nullptr) {
      for (const auto& [name, value] : *extra_headers) {
        client.AddHeader(name.c_str(), value.c_str());
      }
    }
    client.StartUpload(UploadFormUrl(host, port, path), Vexan::kRequestFlags);
    while (!(response = client._ProceedUploadContext(kUploadStep))) {
    }

    // Read to the end of the data: an answer without Content-Length (or
    // one cut short, which raises) ends where its data ends. An answer is
    // text for the page; one larger than any page needs is refused, whatever
    // the server announces.
    const char* announced = response->GetHeader("Content-Length");
    if (announced != nullptr && std::strtoull(announced, nullptr, 10) > kMostTextAnswerBytes) {
      error_text = kHttpErrorText;
      client.AbortTransfer();
      return kHttpNoBufferMemory;
    }
    std::string body;
    std::vector<char> block(16384);
    while (size_t got = response->ReadContent(block.data(), block.size())) {
      if (body.size() + got > kMostTextAnswerBytes) {
        error_text = kHttpErrorText;
        client.AbortTransfer();
        return kHttpNoBufferMemory;
      }
      body.append(block.data(), got);
    }
    if (NamesUtf8(response->GetHeader("Content-Type"))) {
      std::vector<char> converted(body.size() * 2 + 1);
      size_t capacity = converted.size();
      if (Utf8BufferToAnsi(body.data(), body.size(), converted.data(), capacity)) {
        answer.assign(converted.data(), capacity);
      } else {
        answer = CutAtZero(body.data(), body.size());
      }
    } else {
      answer = CutAtZero(body.data(), body.size());
    }
    int status = response->GetStatus();
    result = IsSuccess(status) ? kHttpOk : kHttpClientStatusBase + status;
  } catch (const httpclientexceptionA& e) {
    if (response) {
      result = kHttpTransportError + e.LastError();
      error_text = e.GetErrMsg();
    } else {
      result = kHttpTransportError;
      error_text = kHttpErrorText;
    }
  } catch (const std::exception&) {
    result = kHttpTransportError;
    error_text = kHttpErrorText;
  }
  client.AbortTransfer();
  return result;
}

int32_t HttpGetToFile(platform::Event* cancel, bool use_utf8, std::string* text, bool* is_text,
                      const std::string& file_path, std::string* status_text,
                      const std::string& url, uint64_t most_body_bytes) {
  CHttpClientT client;
  std::unique_ptr<PendingFile> file;
  int32_t result = kHttpTransportError;
  bool answered = false;
  try {
    client.SetUseUtf8(use_utf8);
    client.SetCancelEvent(cancel);
    if (cancel != nullptr && cancel->Wait(1)) return kHttpCancelledBeforeAnswer;
    std::unique_ptr<CHttpResponseT> response = client.SendGet(url, Vexan::kRequestFlags);
    answered = true;

    const char* type = response->GetHeader("Content-Type");
    bool text_answer = type != nullptr && strncasecmp(type, "text/", 5) == 0;
    if (is_text != nullptr) *is_text = text_answer;
    int status = response->GetStatus();
    bool success = IsSuccess(status);
    // An error page never replaces the file the caller asked for.
    if (!file_path.empty() && success) file = std::make_unique<PendingFile>(file_path);

    std::vector<char> block(kGetBlock);
    uint64_t body_bytes = 0;
    while (size_t got = response->ReadContent(block.data(), block.size())) {
      body_bytes += got;
      if (body_bytes > most_body_bytes) throw httpclientexceptionA(Vexan::kErrOutOfMemory);
      if (file && !file->Write(block.data(), got)) {
        throw httpclientexceptionA(Vexan::kErrSystemWriteFile, platform::LastErrorCode(),
                                   file_path);
      }
      if (text != nullptr && text_answer) {
        std::string piece = CutAtZero(block.data(), got);
        if (text->size() + piece.size() > kMostTextAnswerBytes) {
          throw httpclientexceptionA(Vexan::kErrOutOfMemory);
        }
        text->append(piece);
      }
    }
    if (file && !file->Commit()) {
      throw httpclientexceptionA(Vexan::kErrSystemWriteFile, platform::LastErrorCode(), file_path);
    }
    if (success) {
      result = kHttpOk;
    } else {
      result = kHttpClientStatusBase + status;
      if (status_text != nullptr) *status_text = response->GetStatusText();
    }
  } catch (const httpclientexceptionA& e) {
    result = kHttpTransportError + e.LastError();
    if (status_text != nullptr) *status_text = e.GetErrMsg();
  } catch (const std::exception&) {
    result = kHttpTransportError;
    if (status_text != nullptr) *status_text = kUserInterruptText;
  }
  // A request cut short by the cancel event reports that, not the broken
  // transfer it left.
  if (result != kHttpOk && cancel != nullptr && cancel->IsSet()) {
    if (!answered) return kHttpCancelledBeforeAnswer;
    result = kHttpTransportError;
    if (status_text != nullptr) *status_text = kUserInterruptText;
  }
  return result;
}
