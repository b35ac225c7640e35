// One blocking HTTP/1.1 exchange over libcurl, driven step by step the way
// the program's request code expects: send the request (with a body given
// at once or written piece by piece), look at the status and headers, then
// pull the body in caller-sized reads.
//
// libcurl pushes data through callbacks; this class turns that into pulls
// with its multi interface and pausing, so at most about one transfer buffer
// of body data is held here, whatever the size of the answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/event.h"

// Error codes of the transport, in the numbering of the Windows internet
// API the program's result codes were designed around (12000 + n).
inline constexpr int kNetErrorTimeout = 12002;
inline constexpr int kNetErrorInternal = 12004;
inline constexpr int kNetErrorInvalidUrl = 12005;
inline constexpr int kNetErrorNameNotResolved = 12007;
inline constexpr int kNetErrorCancelled = 12017;
inline constexpr int kNetErrorCannotConnect = 12029;
inline constexpr int kNetErrorConnectionAborted = 12030;
inline constexpr int kNetErrorConnectionReset = 12031;
inline constexpr int kNetErrorInvalidCa = 12045;
inline constexpr int kNetErrorHeaderNotFound = 12150;
inline constexpr int kNetErrorIncomplete = 12152;

// How an https server's certificate is checked.
enum class TlsCheck {
  kFull,
  // Name and date faults are accepted, an unknown issuer is not (see
  // tls_setting.h for who may ask for it).
  kIgnoreNameAndDate,
};

struct TransferSettings {
  std::string user_agent;
  // False: connect directly. True: use the proxy named below, or the
  // system's (the environment's http_proxy and no_proxy) when none is named.
  bool use_proxy = false;
  std::string proxy;
  std::string proxy_bypass;
  std::string proxy_user;
  std::string proxy_password;
  TlsCheck tls_check = TlsCheck::kFull;
  uint32_t connect_timeout_ms = 30000;
  // A transfer that moves no byte for this long fails with kNetErrorTimeout.
  uint32_t stall_timeout_ms = 60000;
  // Largest piece libcurl hands over at once; also what is buffered here.
  size_t receive_chunk = 102400;
  bool follow_redirects = true;
  // When set (by another thread), the transfer ends within kCancelCheckMs,
  // whatever step it is in; error_code() is then kNetErrorCancelled.
  const platform::Event* cancel = nullptr;
};

class HttpTransfer {
 public:
  HttpTransfer();
  ~HttpTransfer();
  HttpTransfer(const HttpTransfer&) = delete;
  HttpTransfer& operator=(const HttpTransfer&) = delete;

  // Prepares the request; header lines are "Name: value" without CR LF.
  // False when the handles cannot be made or the URL is refused.
  bool Open(const std::string& verb, const std::string& url,
            const std::vector<std::string>& header_lines, const TransferSettings& settings);

  // A body sent as a whole by Send.
  void SetBody(std::string body);
  // Announces a body of exactly length bytes that WriteBody delivers after
  // StartStreamingBody; EndBody then waits for the answer.
  void AnnounceBody(uint64_t length);

  // Sends the request and waits until the answer's status and headers have
  // arrived. False when no answer came (error_code() says why).
  [[nodiscard]] bool Send();

  [[nodiscard]] bool StartStreamingBody();
  // Blocks until libcurl has taken all bytes; false when the transfer failed
  // or more bytes were written than announced.
  [[nodiscard]] bool WriteBody(const void* data, size_t count);
  // Ends the announced body and waits for the answer's headers; false when
  // fewer bytes than announced were written or no answer came.
  [[nodiscard]] bool EndBody();

  bool has_status() const { return status_ > 0; }
  int status() const { return status_; }
  const std::string& status_text() const { return status_text_; }
  // The first header of that name (compared without case), or nothing.
  std::optional<std::string> Header(const std::string& name) const;
  // The status line and header lines as they arrived, each ending in CR LF.
  const std::string& raw_headers() const { return raw_headers_; }

  // Up to count body bytes; waits until count bytes are there or the body
  // has ended. 0 at the end of the body, -1 when the transfer failed before
  // its end (a connection dropped early included).
  int64_t Read(void* buffer, size_t count);

  // Why the last step failed: one of the kNetError codes, 0 if none.
  int error_code() const { return error_code_; }
  const std::string& error_text() const { return error_text_; }

  bool CancelRequested() const { return settings_.cancel != nullptr && settings_.cancel->IsSet(); }

 private:
  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  static size_t OnBody(char* data, size_t size, size_t count, void* self);
  static size_t OnUpload(char* data, size_t size, size_t count, void* self);

  void Start();
  void ResumeIfPaused();
  // Runs libcurl once and waits up to wait_ms for the socket.
  void DriveOnce(int wait_ms);
  // Drives until done() holds or the transfer ended; checks for stalls.
  template <typename Done>
  void DriveUntil(Done done);
  void Fail(int code, const std::string& text);
  size_t Buffered() const { return received_.size() - read_pos_; }

  void* easy_ = nullptr;
  void* multi_ = nullptr;
  void* header_list_ = nullptr;
  TransferSettings settings_;
  std::string verb_;
  bool started_ = false;
  bool finished_ = false;  // libcurl is done with the transfer
  int curl_result_ = 0;
  int error_code_ = 0;
  std::string error_text_;
  uint64_t progress_ = 0;  // bumps whenever a byte moves in either direction

  // Answer headers of the last response block.
  int status_ = 0;
  std::string status_text_;
  std::string raw_headers_;
  std::vector<std::pair<std::string, std::string>> headers_;
  bool headers_done_ = false;

  // Body bytes libcurl delivered that no Read has taken yet.
  std::vector<char> received_;
  size_t read_pos_ = 0;
  char* direct_target_ = nullptr;  // a Read's buffer, filled straight from libcurl
  size_t direct_room_ = 0;
  size_t direct_filled_ = 0;
  bool receive_paused_ = false;

  // Request body.
  std::string body_;
  bool streaming_ = false;
  uint64_t announced_ = 0;
  uint64_t written_ = 0;
  const char* upload_data_ = nullptr;
  size_t upload_left_ = 0;
  bool upload_ended_ = false;
  bool send_paused_ = false;
};
