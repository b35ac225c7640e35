#include "net/http_client.h"

#include <uuid/uuid.h>

#include <algorithm>
#include <array>

#include "net/mime_sniffer.h"
#include "net/tls_setting.h"
#include "net/url_parts.h"
#include "util/md5.h"
#include "util/text_encoding.h"

namespace Vexan {

namespace {

constexpr const char kCrLf[] = "\r\n";
constexpr const char kFallbackBoundary[] = "----VEXAN-FB3B405B7EAE495aB0C0295C54D4E096-";
constexpr size_t kSniffBytes = 256;

uint64_t CheckedAdd(uint64_t a, uint64_t b) {
  uint64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) throw httpclientexceptionA(kErrOverflow);
  return sum;
}

std::string MakeBoundary() {
  std::array<uint8_t, 16> guid{};
  uuid_generate(guid.data());
  if (std::all_of(guid.begin(), guid.end(), [](uint8_t b) { return b == 0; })) {
    return kFallbackBoundary;
  }
  // Data1, Data2, Data3 and the bytes of Data4 in order: libuuid keeps the
  // first three big-endian, so the bytes read straight through.
  char hex[33];
  HexEncodeLower(guid.data(), guid.size(), hex);
  return "----QUIMB-" + std::string(hex, 32) + "-";
}

bool HasLineBreak(const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\r' || *p == '\n') return true;
  }
  return false;
}

}  // namespace

// One part of the multipart body, ready to send.
struct CHttpClientT::Part {
  std::string name;    // as given, for the statistics
  std::string header;  // "--B\r\nContent-Disposition: ...\r\n\r\n"
  bool is_file = false;
  std::string value;  // encoded text value
  std::string path;   // file parameter: the file read
  platform::File file;
  uint64_t size = 0;  // bytes of the value
};

struct CHttpClientT::PostContext {
  enum class Phase { kHeader, kValue, kClosing, kFinal };
  std::unique_ptr<HttpTransfer> transfer;
  std::vector<Part> parts;
  std::string final_text;
  size_t index = 0;
  Phase phase = Phase::kHeader;
  uint64_t value_pos = 0;
  std::vector<char> read_buffer;
};

CHttpClientT::CHttpClientT() : boundary_(MakeBoundary()) {
  content_type_ = "multipart/form-data; boundary=" + boundary_;
}

CHttpClientT::~CHttpClientT() {
  AbortTransfer();
}

void CHttpClientT::SetUseUtf8(bool use_utf8) {
  if (post_) {
    throw httpclientexceptionA::Argument(
        "CHttpClientT::SetUseUtf8: It is not allowed to call this method if the POST context is "
        "active.");
  }
  use_utf8_ = use_utf8;
}

void CHttpClientT::AddParam(const char* name, const char* value, unsigned flags) {
  if (post_) {
    throw httpclientexceptionA::Argument(
        "CHttpClientT::AddParam: It is not allowed to call this method if the POST context is "
        "active.");
  }
  if (name == nullptr) {
    throw httpclientexceptionA::Argument("CHttpClientT::AddParam: szName can not be NULL.");
  }
  params_.Add(name, value, flags);
}

void CHttpClientT::AddHeader(const char* name, const char* value) {
  if (name == nullptr) {
    throw httpclientexceptionA::Argument("CHttpClientT::AddHeader: szName can not be NULL.");
  }
  if (*name == '\0') {
    throw httpclientexceptionA::Argument(
        "CHttpClientT::AddHeader: szName can not be an empty string.");
  }
  if (value == nullptr) {
    throw httpclientexceptionA::Argument("CHttpClientT::AddHeader: szValue can not be NULL.");
  }
  if (*value == '\0') {
    throw httpclientexceptionA::Argument(
        "CHttpClientT::AddHeader: szValue can not be an empty string.");
  }
  headers_.Add(name, value);
}

void CHttpClientT::SetInternet(const std::string& user_agent, int access_type,
                               const std::string& proxy, const std::string& bypass,
                               uint32_t flags) {
  user_agent_ = user_agent;
  access_type_ = access_type;
  proxy_ = proxy;
  proxy_bypass_ = bypass;
  internet_flags_ = flags;
}

void CHttpClientT::SetProxyAccount(const std::string& user, const std::string& password) {
  proxy_user_ = user;
  proxy_password_ = password;
}

std::string CHttpClientT::Utf8Encode(const std::string& ansi) {
  if (ansi.empty()) return {};
  std::string utf8 = AnsiToUtf8(ansi);
  if (utf8.empty()) throw httpclientexceptionA(kErrMultiToWide);
  return utf8;
}

std::string CHttpClientT::Encode(const std::string& text) const {
  return use_utf8_ ? Utf8Encode(text) : text;
}

std::unique_ptr<HttpTransfer> CHttpClientT::OpenRequest(
    const std::string& verb, const std::string& url, uint32_t flags,
    const std::vector<std::string>& extra_headers) {
  if (post_) AbortTransfer();
  auto transfer = std::make_unique<HttpTransfer>();

  UrlParts parts;
  int url_result = AnalyzeUrl(url, parts);
  if (url_result != kUrlOk) throw httpclientexceptionA(url_result);

  std::vector<std::string> lines;
  if (flags & kFlagPragmaNoCache) {
    lines.emplace_back("Pragma: no-cache");
    lines.emplace_back("Cache-Control: no-cache");
  }
  for (const auto& [name, entry] : headers_) {
    // A line break would smuggle further headers into the request.
    if (HasLineBreak(name.c_str()) || HasLineBreak(entry.value.c_str())) {
      throw httpclientexceptionA(kErrAddHeaders);
    }
    lines.push_back(name + ": " + entry.value);
  }
  lines.insert(lines.end(), extra_headers.begin(), extra_headers.end());

  TransferSettings settings;
  settings.user_agent = user_agent_;
  settings.use_proxy = access_type_ != 1;
  if (access_type_ == 3) {
    settings.proxy = proxy_;
    settings.proxy_bypass = proxy_bypass_;
  }
  settings.proxy_user = proxy_user_;
  settings.proxy_password = proxy_password_;
  bool wants_lax = (flags & (kFlagIgnoreCertDate | kFlagIgnoreCertName)) != 0;
  settings.tls_check =
      wants_lax && InsecureTlsAllowed() ? TlsCheck::kIgnoreNameAndDate : TlsCheck::kFull;
  settings.stall_timeout_ms = stall_timeout_ms_;
  settings.cancel = cancel_;

  std::string target = TransportUrl(parts);
  if (verb == "GET" && !params_.Empty()) {
    std::string query;
    for (const auto& [name, entry] : params_) {
      query += query.empty() ? "" : "&";
      query += UrlEncodeText(Encode(name)) + "=" + UrlEncodeText(Encode(entry.value));
    }
    target += (target.find('?') == std::string::npos ? "?" : "&") + query;
  }
  if (!transfer->Open(verb, target, lines, settings)) {
    throw httpclientexceptionA(kErrOpenRequest, transfer->error_code());
  }
  return transfer;
}

std::unique_ptr<CHttpResponseT> CHttpClientT::SendGet(const std::string& url, uint32_t flags) {
  auto transfer = OpenRequest("GET", url, flags, {});
  if (!transfer->Send()) throw httpclientexceptionA(kErrSendRequest, transfer->error_code());
  return std::make_unique<CHttpResponseT>(std::move(transfer));
}

void CHttpClientT::StartUpload(const std::string& url, uint32_t flags) {
  if (post_) AbortTransfer();
  auto context = std::make_unique<PostContext>();
  CHttpPostStatT stat;
  uint64_t total = 0;
  for (const auto& [name, entry] : params_) {
    Part part;
    part.name = name;
    part.is_file = (entry.flags & CHttpClientMapT::kFileFlag) != 0;
    std::string disposition = "Content-Disposition: form-data; name=\"" + Encode(name) + "\"";
    if (part.is_file) {
      part.path = entry.value;
      part.file = platform::File(part.path, platform::OpenMode::kRead);
      if (!part.file.IsOpen()) {
        throw httpclientexceptionA(kErrOpenFile, platform::LastErrorCode(), part.path);
      }
      int64_t size = part.file.Size();
      if (size < 0) {
        throw httpclientexceptionA(kErrGetFileSize, platform::LastErrorCode(), part.path);
      }
      part.size = static_cast<uint64_t>(size);
      char head[kSniffBytes];
      int64_t got = part.file.Read(head, sizeof head);
      if (got < 0) throw httpclientexceptionA(kErrSystemReadFile, platform::LastErrorCode());
      if (part.file.Seek(0) != 0) {
        throw httpclientexceptionA(kErrSetFilePointer, platform::LastErrorCode());
      }
      std::string mime = SniffMimeType(head, static_cast<size_t>(got));
      disposition += "; filename=\"" + Encode(part.path) + "\"";
      part.header =
          "--" + boundary_ + kCrLf + disposition + kCrLf + "Content-Type: " + mime + kCrLf + kCrLf;
      ++stat.file_count_;
    } else {
      part.value = Encode(entry.value);
      part.size = part.value.size();
      part.header = "--" + boundary_ + kCrLf + disposition + kCrLf + kCrLf;
    }
    total = CheckedAdd(total, part.header.size());
    total = CheckedAdd(total, part.size);
    total = CheckedAdd(total, 2);
    context->parts.push_back(std::move(part));
  }
  context->final_text = (context->parts.empty() ? std::string(kCrLf) : std::string()) + "--" +
                        boundary_ + "--" + kCrLf;
  total = CheckedAdd(total, context->final_text.size());

  context->transfer = OpenRequest("POST", url, flags, {"Content-Type: " + content_type_});
  context->transfer->AnnounceBody(total);
  if (!context->transfer->StartStreamingBody()) {
    throw httpclientexceptionA(kErrSendRequestEx, context->transfer->error_code());
  }
  stat.active_ = true;
  stat.total_bytes_ = total;
  stat.total_count_ = context->parts.size();
  stat_ = stat;
  post_ = std::move(context);
}

void CHttpClientT::Write(const void* data, size_t size) {
  if (!post_->transfer->WriteBody(data, size)) {
    throw httpclientexceptionA(kErrWriteFile, post_->transfer->error_code());
  }
  stat_.posted_bytes_ += size;
}

std::unique_ptr<CHttpResponseT> CHttpClientT::_ProceedUploadContext(size_t desired) {
  if (!post_) throw httpclientexceptionA(kErrPostNotStarted);
  if (desired == 0) {
    throw httpclientexceptionA::Argument(
        "CHttpClientT::_ProceedUploadContext: nDesired can not be zero.");
  }
  using Phase = PostContext::Phase;
  PostContext& post = *post_;
  if (post.phase == Phase::kHeader && post.index >= post.parts.size()) post.phase = Phase::kFinal;

  switch (post.phase) {
    case Phase::kHeader: {
      Part& part = post.parts[post.index];
      stat_.current_name_ = part.name;
      stat_.current_is_file_ = part.is_file;
      stat_.current_posted_ = 0;
      stat_.current_remaining_ = part.size;
      stat_.current_complete_ = false;
      post.value_pos = 0;
      Write(part.header.data(), part.header.size());
      if (part.size == 0 && !part.is_file) {
        Write(kCrLf, 2);
        stat_.current_complete_ = true;
        ++stat_.posted_count_;
        ++post.index;
      } else {
        post.phase = part.size == 0 ? Phase::kClosing : Phase::kValue;
      }
      return nullptr;
    }
    case Phase::kValue: {
      Part& part = post.parts[post.index];
      uint64_t remaining = part.size - post.value_pos;
      size_t step = static_cast<size_t>(std::min<uint64_t>(remaining, desired));
      if (part.is_file) {
        step = std::min(step, kFileBlock);
        post.read_buffer.resize(step);
        int64_t got = part.file.Read(post.read_buffer.data(), step);
        if (got < 0 || static_cast<size_t>(got) != step) {
          throw httpclientexceptionA(kErrFileShortRead, platform::LastErrorCode());
        }
        Write(post.read_buffer.data(), step);
      } else {
        Write(part.value.data() + post.value_pos, step);
      }
      post.value_pos += step;
      stat_.current_posted_ = post.value_pos;
      stat_.current_remaining_ = part.size - post.value_pos;
      if (post.value_pos == part.size) post.phase = Phase::kClosing;
      return nullptr;
    }
    case Phase::kClosing: {
      Part& part = post.parts[post.index];
      Write(kCrLf, 2);
      stat_.current_complete_ = true;
      ++stat_.posted_count_;
      if (part.is_file) ++stat_.posted_file_count_;
      part.file.Close();
      ++post.index;
      post.phase = Phase::kHeader;
      return nullptr;
    }
    case Phase::kFinal:
      Write(post.final_text.data(), post.final_text.size());
      return Finish();
  }
  throw httpclientexceptionA(kErrUnexpected);
}

std::unique_ptr<CHttpResponseT> CHttpClientT::Finish() {
  if (!post_->transfer->EndBody()) {
    throw httpclientexceptionA(kErrEndRequest, post_->transfer->error_code());
  }
  auto response = std::make_unique<CHttpResponseT>(std::move(post_->transfer));
  post_.reset();
  stat_.active_ = false;
  return response;
}

void CHttpClientT::AbortTransfer() {
  post_.reset();
  stat_.active_ = false;
}

CHttpResponseT::CHttpResponseT(std::unique_ptr<HttpTransfer> transfer)
    : transfer_(std::move(transfer)) {}

CHttpResponseT::~CHttpResponseT() = default;

int CHttpResponseT::GetStatus() {
  if (!status_cached_) {
    if (!transfer_->has_status()) throw httpclientexceptionA(kErrQueryInfo);
    status_ = transfer_->status();
    status_text_ = transfer_->status_text();
    status_cached_ = true;
  }
  return status_;
}

const char* CHttpResponseT::GetStatusText() {
  GetStatus();
  return status_text_.c_str();
}

bool CHttpResponseT::GetContentLength(uint64_t& length) {
  const char* text = GetHeader("Content-Length");
  if (text == nullptr || *text < '0' || *text > '9') return false;
  uint64_t value = 0;
  for (const char* p = text; *p >= '0' && *p <= '9'; ++p) {
    if (__builtin_mul_overflow(value, 10, &value) ||
        __builtin_add_overflow(value, static_cast<uint64_t>(*p - '0'), &value)) {
      return false;
    }
  }
  length = value;
  return true;
}

const char* CHttpResponseT::GetHeader(const char* name) {
  if (name == nullptr) {
    throw httpclientexceptionA::Argument("CHttpResponseT::GetHeader: szName can not be NULL.");
  }
  if (const auto* cached = header_cache_.Get(name)) return cached->value.c_str();
  auto value = transfer_->Header(name);
  if (!value) return nullptr;
  header_cache_.Add(name, value->c_str());
  return header_cache_.Get(name)->value.c_str();
}

size_t CHttpResponseT::ReadContent(void* buffer, size_t size) {
  if (buffer == nullptr) {
    throw httpclientexceptionA::Argument("CHttpResponseT::ReadContent: pbyBuff can not be NULL.");
  }
  int64_t got = transfer_->Read(buffer, size);
  if (got < 0) throw httpclientexceptionA(kErrReadFile, transfer_->error_code());
  return static_cast<size_t>(got);
}

}  // namespace Vexan
