#include "net/http_transfer.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>

#include "net/tls_lax_check.h"
#include "net/transfer_limits.h"
#include "net/transfer_seams.h"

namespace {

CURL* Easy(void* p) {
  return static_cast<CURL*>(p);
}
CURLM* Multi(void* p) {
  return static_cast<CURLM*>(p);
}

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

int MapCurlError(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return kNetErrorTimeout;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kNetErrorNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return kNetErrorCannotConnect;
    case CURLE_SEND_ERROR:
      return kNetErrorConnectionReset;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CONNECT_ERROR:
      return kNetErrorInvalidCa;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return kNetErrorInvalidUrl;
    case CURLE_ABORTED_BY_CALLBACK:
      return kNetErrorCancelled;
    case CURLE_READ_ERROR:
      return kNetErrorIncomplete;
    default:
      return kNetErrorConnectionAborted;
  }
}

std::string Trim(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r' ||
                         text[end - 1] == '\n')) {
    --end;
  }
  return std::string(text.substr(begin, end - begin));
}

bool IsFollowedRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// libcurl calls this while it waits for the network as well, so a stalled
// read sees a cancel too.
int OnTransferInfo(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const HttpTransfer*>(self)->CancelRequested() ? 1 : 0;
}

}  // namespace

HttpTransfer::HttpTransfer() {
  InitCurlOnce();
}

HttpTransfer::~HttpTransfer() {
  if (multi_ != nullptr && easy_ != nullptr && started_) {
    curl_multi_remove_handle(Multi(multi_), Easy(easy_));
  }
  if (easy_ != nullptr) curl_easy_cleanup(Easy(easy_));
  if (multi_ != nullptr) curl_multi_cleanup(Multi(multi_));
  if (header_list_ != nullptr) curl_slist_free_all(static_cast<curl_slist*>(header_list_));
}

bool HttpTransfer::Open(const std::string& verb, const std::string& url,
                        const std::vector<std::string>& header_lines,
                        const TransferSettings& settings) {
  settings_ = settings;
  verb_ = verb;
  easy_ = curl_easy_init();
  multi_ = curl_multi_init();
  if (easy_ == nullptr || multi_ == nullptr) {
    Fail(kNetErrorInternal, "libcurl handles cannot be made");
    return false;
  }
  CURL* e = Easy(easy_);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_USERAGENT, settings_.user_agent.c_str());
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings_.connect_timeout_ms));
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, static_cast<long>(settings_.receive_chunk));
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, settings_.follow_redirects ? 1L : 0L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &HttpTransfer::OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &HttpTransfer::OnBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
  if (!settings_.use_proxy) {
    curl_easy_setopt(e, CURLOPT_PROXY, "");
  } else if (!settings_.proxy.empty()) {
    curl_easy_setopt(e, CURLOPT_PROXY, settings_.proxy.c_str());
    if (!settings_.proxy_bypass.empty()) {
      curl_easy_setopt(e, CURLOPT_NOPROXY, settings_.proxy_bypass.c_str());
    }
  }
  if (!settings_.proxy_user.empty()) {
    curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, settings_.proxy_user.c_str());
  }
  if (!settings_.proxy_password.empty()) {
    curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, settings_.proxy_password.c_str());
  }
  // Through an https_proxy, the proxy's own "200 Connection established"
  // would otherwise come first and be taken for the server's answer.
  curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  LowSpeedLimit low_speed = CurrentLowSpeedLimit();
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(low_speed.bytes_per_second));
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>(low_speed.seconds));
  curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &OnTransferInfo);
  curl_easy_setopt(e, CURLOPT_XFERINFODATA, this);

  std::string ca_file = TrustedCaFileOverride();
  if (!ca_file.empty()) curl_easy_setopt(e, CURLOPT_CAINFO, ca_file.c_str());
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  if (settings_.tls_check == TlsCheck::kIgnoreNameAndDate) {
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
    UseLaxCertificateCheck(e);
  } else {
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
  }

  curl_slist* list = nullptr;
  for (const auto& line : header_lines) list = curl_slist_append(list, line.c_str());
  // libcurl would otherwise hold a body back waiting for "100 Continue".
  list = curl_slist_append(list, "Expect:");
  header_list_ = list;
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, list);

  if (curl_easy_setopt(e, CURLOPT_URL, url.c_str()) != CURLE_OK) {
    Fail(kNetErrorInvalidUrl, "the URL is not valid");
    return false;
  }
  return true;
}

void HttpTransfer::SetBody(std::string body) {
  body_ = std::move(body);
}

void HttpTransfer::AnnounceBody(uint64_t length) {
  streaming_ = true;
  announced_ = length;
}

void HttpTransfer::Start() {
  if (started_ || easy_ == nullptr) return;
  CURL* e = Easy(easy_);
  if (streaming_) {
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    curl_easy_setopt(e, CURLOPT_READFUNCTION, &HttpTransfer::OnUpload);
    curl_easy_setopt(e, CURLOPT_READDATA, this);
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(announced_));
    if (verb_ != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, verb_.c_str());
  } else if (strcasecmp(verb_.c_str(), "GET") == 0) {
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  } else if (strcasecmp(verb_.c_str(), "HEAD") == 0) {
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
  } else {
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, body_.data());
    if (verb_ != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, verb_.c_str());
  }
  started_ = true;
  if (curl_multi_add_handle(Multi(multi_), e) != CURLM_OK) {
    Fail(kNetErrorInternal, "the request cannot be started");
    finished_ = true;
  }
}

bool HttpTransfer::Send() {
  if (easy_ == nullptr) return false;
  Start();
  DriveUntil([this] { return headers_done_; });
  if (finished_ && curl_result_ == CURLE_OK) headers_done_ = true;
  if (!has_status() && error_code_ == 0) Fail(kNetErrorConnectionAborted, "no answer");
  return has_status() && headers_done_;
}

bool HttpTransfer::StartStreamingBody() {
  if (easy_ == nullptr || !streaming_) return false;
  Start();
  // Connected and the request head sent once libcurl asks for body bytes.
  DriveUntil([this] { return send_paused_ || announced_ == 0; });
  return !finished_ || curl_result_ == CURLE_OK;
}

bool HttpTransfer::WriteBody(const void* data, size_t count) {
  if (!started_ || finished_) return false;
  if (count > announced_ - written_) {
    Fail(kNetErrorIncomplete, "more body bytes than announced");
    return false;
  }
  if (count == 0) return true;
  upload_data_ = static_cast<const char*>(data);
  upload_left_ = count;
  ResumeIfPaused();
  DriveUntil([this] { return upload_left_ == 0; });
  bool all_taken = upload_left_ == 0;
  written_ += count - upload_left_;
  upload_data_ = nullptr;
  upload_left_ = 0;
  if (!all_taken && error_code_ == 0) Fail(kNetErrorConnectionReset, "the body was not taken");
  return all_taken;
}

bool HttpTransfer::EndBody() {
  if (!started_) return false;
  if (written_ != announced_) {
    Fail(kNetErrorIncomplete, "fewer body bytes than announced");
    return false;
  }
  upload_ended_ = true;
  ResumeIfPaused();
  DriveUntil([this] { return headers_done_; });
  if (finished_ && curl_result_ == CURLE_OK) headers_done_ = true;
  if (!has_status() && error_code_ == 0) Fail(kNetErrorConnectionAborted, "no answer");
  return has_status() && headers_done_;
}

std::optional<std::string> HttpTransfer::Header(const std::string& name) const {
  for (const auto& [key, value] : headers_) {
    if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
  }
  return std::nullopt;
}

int64_t HttpTransfer::Read(void* buffer, size_t count) {
  if (count == 0) return 0;
  auto* out = static_cast<char*>(buffer);
  size_t got = 0;
  if (Buffered() > 0) {
    got = std::min(Buffered(), count);
    std::memcpy(out, received_.data() + read_pos_, got);
    read_pos_ += got;
    if (read_pos_ == received_.size()) {
      received_.clear();
      read_pos_ = 0;
    }
  }
  if (got < count && started_ && !finished_) {
    direct_target_ = out + got;
    direct_room_ = count - got;
    direct_filled_ = 0;
    ResumeIfPaused();
    DriveUntil([this] { return direct_filled_ == direct_room_; });
    got += direct_filled_;
    direct_target_ = nullptr;
    direct_room_ = direct_filled_ = 0;
  }
  if (got > 0) return static_cast<int64_t>(got);
  if (error_code_ != 0 || (finished_ && curl_result_ != CURLE_OK)) return -1;
  return 0;
}

size_t HttpTransfer::OnHeader(char* data, size_t size, size_t count, void* self_ptr) {
  auto* self = static_cast<HttpTransfer*>(self_ptr);
  size_t length = size * count;
  std::string_view line(data, length);
  ++self->progress_;
  if (line.substr(0, 5) == "HTTP/") {
    // A new response block (after "100 Continue" or a redirect) replaces the last.
    self->headers_.clear();
    self->raw_headers_.assign(line);
    self->headers_done_ = false;
    self->status_ = 0;
    self->status_text_.clear();
    size_t space = line.find(' ');
    if (space != std::string_view::npos) {
      std::string_view rest = line.substr(space + 1);
      int status = 0;
      size_t i = 0;
      while (i < rest.size() && i < 3 && rest[i] >= '0' && rest[i] <= '9') {
        status = status * 10 + (rest[i] - '0');
        ++i;
      }
      self->status_ = status;
      self->status_text_ = Trim(rest.substr(i));
    }
    return length;
  }
  self->raw_headers_.append(line);
  if (line == "\r\n" || line == "\n") {
    bool interim = self->status_ < 200;
    bool redirect = self->settings_.follow_redirects && IsFollowedRedirect(self->status_) &&
                    self->Header("Location").has_value();
    if (!interim && !redirect) self->headers_done_ = true;
    return length;
  }
  size_t colon = line.find(':');
  if (colon != std::string_view::npos) {
    self->headers_.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
  }
  return length;
}

size_t HttpTransfer::OnBody(char* data, size_t size, size_t count, void* self_ptr) {
  auto* self = static_cast<HttpTransfer*>(self_ptr);
  size_t length = size * count;
  if (length == 0) return 0;
  size_t room = self->direct_room_ - self->direct_filled_;
  size_t cap = self->settings_.receive_chunk;
  if (room == 0 && self->Buffered() > 0 && self->Buffered() + length > cap) {
    // Nobody is reading: hold the transfer until a Read wants more.
    self->receive_paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  self->headers_done_ = true;
  ++self->progress_;
  size_t direct = std::min(room, length);
  if (direct > 0) {
    std::memcpy(self->direct_target_ + self->direct_filled_, data, direct);
    self->direct_filled_ += direct;
  }
  if (direct < length) {
    if (self->read_pos_ > 0) {
      self->received_.erase(self->received_.begin(),
                            self->received_.begin() + static_cast<ptrdiff_t>(self->read_pos_));
      self->read_pos_ = 0;
    }
    self->received_.insert(self->received_.end(), data + direct, data + length);
  }
  return length;
}

size_t HttpTransfer::OnUpload(char* data, size_t size, size_t count, void* self_ptr) {
  auto* self = static_cast<HttpTransfer*>(self_ptr);
  size_t room = size * count;
  if (self->upload_left_ > 0) {
    size_t n = std::min(room, self->upload_left_);
    std::memcpy(data, self->upload_data_, n);
    self->upload_data_ += n;
    self->upload_left_ -= n;
    ++self->progress_;
    return n;
  }
  if (self->upload_ended_) return 0;
  self->send_paused_ = true;
  return CURL_READFUNC_PAUSE;
}

void HttpTransfer::ResumeIfPaused() {
  if (!receive_paused_ && !send_paused_) return;
  receive_paused_ = false;
  send_paused_ = false;
  // May call the callbacks at once, which may pause again.
  curl_easy_pause(Easy(easy_), CURLPAUSE_CONT);
}

template <typename Done>
void HttpTransfer::DriveUntil(Done done) {
  using Clock = std::chrono::steady_clock;
  uint64_t seen = progress_;
  auto last_move = Clock::now();
  while (!finished_) {
    int running = 0;
    CURLMcode mc = curl_multi_perform(Multi(multi_), &running);
    if (mc != CURLM_OK) {
      Fail(kNetErrorInternal, curl_multi_strerror(mc));
      finished_ = true;
      return;
    }
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(Multi(multi_), &left)) {
      if (msg->msg != CURLMSG_DONE) continue;
      finished_ = true;
      curl_result_ = msg->data.result;
      if (msg->data.result != CURLE_OK) {
        Fail(MapCurlError(msg->data.result), curl_easy_strerror(msg->data.result));
      }
    }
    if (done() || finished_) return;
    // libcurl does not look at a paused transfer; this does.
    if (CancelRequested()) {
      Fail(kNetErrorCancelled, "cancelled");
      finished_ = true;
      return;
    }
    // Paused for want of a reader or of body bytes: the caller must act first.
    if (receive_paused_ && direct_room_ == direct_filled_ && upload_left_ == 0) return;
    curl_multi_poll(Multi(multi_), nullptr, 0, static_cast<int>(kCancelCheckMs), nullptr);
    if (progress_ != seen) {
      seen = progress_;
      last_move = Clock::now();
    } else if (Clock::now() - last_move > std::chrono::milliseconds(settings_.stall_timeout_ms)) {
      Fail(kNetErrorTimeout, "the server sent nothing for too long");
      finished_ = true;
      return;
    }
  }
}

void HttpTransfer::Fail(int code, const std::string& text) {
  if (error_code_ != 0) return;
  error_code_ = code;
  error_text_ = text;
}
