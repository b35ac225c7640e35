// A small HTTP client for ANSI (code page 936) texts: GET requests whose
// body is read in blocks, and multipart/form-data uploads of text fields and
// files sent step by step with an exactly announced length.
//
// One client object serves one request at a time on one thread. Every
// failure is thrown as httpclientexceptionA; the request helpers catch it at
// their boundary and turn it into a result code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/http_transfer.h"
#include "platform/file_system.h"

namespace Vexan {

// Flag bits of SendGet and StartUpload, with the values the program's flag
// word was written in.
inline constexpr uint32_t kFlagReload = 0x80000000;
inline constexpr uint32_t kFlagNoCacheWrite = 0x04000000;
inline constexpr uint32_t kFlagSecure = 0x00800000;
inline constexpr uint32_t kFlagKeepConnection = 0x00400000;
inline constexpr uint32_t kFlagIgnoreCertDate = 0x00002000;
inline constexpr uint32_t kFlagIgnoreCertName = 0x00001000;
inline constexpr uint32_t kFlagResynchronize = 0x00000800;
inline constexpr uint32_t kFlagHyperlink = 0x00000400;
inline constexpr uint32_t kFlagNoUi = 0x00000200;
inline constexpr uint32_t kFlagPragmaNoCache = 0x00000100;
// What every request of the program uses: always from the network, nothing
// cached, "Pragma: no-cache".
inline constexpr uint32_t kRequestFlags = 0x84400f00;

// Error codes (see HttpClientErrorMessage for their texts).
enum HttpClientError : int {
  kErrArgument = 0,
  kErrUnexpected = 100,
  kErrIndexOutOfRange = 101,
  kErrOutOfMemory = 102,
  kErrInvalidUrl = 103,
  kErrPostNotStarted = 104,
  kErrFileShortRead = 105,
  kErrPostNotFinished = 106,
  kErrInvalidPort = 107,
  kErrStdException = 108,
  kErrInvalidEncodedUrl = 109,
  kErrInvalidUtf8 = 110,
  kErrArithmetic = 111,
  kErrOverflow = 112,
  kErrDivideByZero = 113,
  kErrFileExists = 114,
  kErrQueryInfo = 400,
  kErrReadFile = 401,
  kErrInternetOpen = 402,
  kErrConnect = 403,
  kErrOpenRequest = 404,
  kErrAddHeaders = 405,
  kErrSendRequest = 406,
  kErrSendRequestEx = 407,
  kErrWriteFile = 408,
  kErrEndRequest = 409,
  kErrSetOption = 410,
  kErrWideToMulti = 600,
  kErrMultiToWide = 601,
  kErrSystemReadFile = 602,
  kErrOpenFile = 603,
  kErrSetFilePointer = 604,
  kErrGetFileSize = 605,
  kErrSystemWriteFile = 606,
  kErrUserDefined = 1000,
};

// The message of a code; path replaces the "%s" of the file messages.
std::string HttpClientErrorMessage(int code, const std::string& path = {});

class errmsg_exceptionA : public std::exception {
 public:
  explicit errmsg_exceptionA(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const char* GetErrMsg() const noexcept { return message_.c_str(); }

 private:
  std::string message_;
};

class httpclientexceptionA : public errmsg_exceptionA {
 public:
  // The message comes from the code's table entry.
  httpclientexceptionA(int code, int platform_error = 0, const std::string& path = {})
      : errmsg_exceptionA(HttpClientErrorMessage(code, path)),
        code_(code),
        platform_error_(platform_error) {}
  // A failed argument check (code 0) with its own text.
  static httpclientexceptionA Argument(const std::string& text) {
    return httpclientexceptionA(text);
  }
  int LastError() const noexcept { return code_; }
  int Win32LastError() const noexcept { return platform_error_; }

 private:
  explicit httpclientexceptionA(const std::string& text)
      : errmsg_exceptionA(text), code_(kErrArgument), platform_error_(0) {}
  int code_;
  int platform_error_;
};

// An ordered multimap from names (compared without case, in stricmp order)
// to {value, flags}; equal names keep the order in which they were added.
class CHttpClientMapT {
 public:
  struct Entry {
    std::string value;
    unsigned flags = 0;
  };
  static constexpr unsigned kFileFlag = 1;

  void Add(const char* name, const char* value, unsigned flags = 0);
  // The first entry with that name, or null.
  const Entry* Get(const char* name) const;
  void RemoveAll(const char* name);
  void Clear() { map_.clear(); }
  bool Empty() const { return map_.empty(); }
  size_t Count() const { return map_.size(); }

  struct CaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  using Map = std::multimap<std::string, Entry, CaseLess>;
  Map::const_iterator begin() const { return map_.begin(); }
  Map::const_iterator end() const { return map_.end(); }

 private:
  Map map_;
};

// Statistics of the active upload. Every query while no upload is active
// throws "CHttpPostStatT::<Query>: The post context is not active.".
class CHttpPostStatT {
 public:
  uint64_t TotalByte() const;
  uint64_t PostedByte() const;
  size_t TotalCount() const;
  size_t PostedCount() const;
  size_t FileCount() const;
  size_t PostedFileCount() const;
  const std::string& CurrParam() const;
  uint64_t CurrParamPostedByte() const;
  uint64_t CurrParamRemainByte() const;
  bool CurrParamIsFile() const;
  bool CurrParamIsComplete() const;
  bool IsActive() const { return active_; }

 private:
  friend class CHttpClientT;
  void Check(const char* query) const;
  bool active_ = false;
  uint64_t total_bytes_ = 0;
  uint64_t posted_bytes_ = 0;
  size_t total_count_ = 0;
  size_t posted_count_ = 0;
  size_t file_count_ = 0;
  size_t posted_file_count_ = 0;
  std::string current_name_;
  uint64_t current_posted_ = 0;
  uint64_t current_remaining_ = 0;
  bool current_is_file_ = false;
  bool current_complete_ = false;
};

// The answer of a finished request; owns its transfer.
class CHttpResponseT {
 public:
  explicit CHttpResponseT(std::unique_ptr<HttpTransfer> transfer);
  ~CHttpResponseT();
  CHttpResponseT(const CHttpResponseT&) = delete;
  CHttpResponseT& operator=(const CHttpResponseT&) = delete;

  int GetStatus();
  const char* GetStatusText();
  // False when the answer has no (readable) Content-Length.
  bool GetContentLength(uint64_t& length);
  // The named header's value, or null when the answer has none.
  const char* GetHeader(const char* name);
  // One read of up to size body bytes; 0 at the end. Throws 401 when the
  // transfer breaks off before the end of the body.
  size_t ReadContent(void* buffer, size_t size);

 private:
  std::unique_ptr<HttpTransfer> transfer_;
  CHttpClientMapT header_cache_;
  bool status_cached_ = false;
  int status_ = 0;
  std::string status_text_;
};

class CHttpClientT {
 public:
  static constexpr const char kDefaultUserAgent[] = "Vexan HTTP Client Class";
  static constexpr size_t kFileBlock = 57344;

  CHttpClientT();
  ~CHttpClientT();
  CHttpClientT(const CHttpClientT&) = delete;
  CHttpClientT& operator=(const CHttpClientT&) = delete;

  void SetUseUtf8(bool use_utf8);
  bool UseUtf8() const { return use_utf8_; }
  void AddParam(const char* name, const char* value, unsigned flags = 0);
  void AddHeader(const char* name, const char* value);

  // Internet-handle settings. Access type 0 uses the system's proxy
  // settings, 1 connects directly, 3 uses the named proxy.
  void SetInternet(const std::string& user_agent, int access_type = 0,
                   const std::string& proxy = {}, const std::string& bypass = {},
                   uint32_t flags = 0);
  void SetProxyAccount(const std::string& user, const std::string& password);
  // For tests: how long a transfer may stall before it fails.
  void SetStallTimeout(uint32_t milliseconds) { stall_timeout_ms_ = milliseconds; }
  // An event that, once set, ends the request under way (may be null; must
  // outlive the requests). A cut-short request throws like a broken one.
  void SetCancelEvent(const platform::Event* cancel) { cancel_ = cancel; }

  std::unique_ptr<CHttpResponseT> SendGet(const std::string& url, uint32_t flags = kRequestFlags);
  void StartUpload(const std::string& url, uint32_t flags = kRequestFlags);
  // Sends the next step of the body; null until the body is complete, then
  // the answer.
  std::unique_ptr<CHttpResponseT> _ProceedUploadContext(size_t desired);
  // Ends an active upload and closes what it holds.
  void AbortTransfer();

  bool IsPostActive() const { return post_ != nullptr; }
  const CHttpPostStatT& PostStat() const { return stat_; }
  const std::string& Boundary() const { return boundary_; }
  const std::string& ContentTypeValue() const { return content_type_; }

  // ANSI -> UTF-8 (through UTF-16); throws 601 or 600 on failure.
  static std::string Utf8Encode(const std::string& ansi);

 private:
  struct Part;
  struct PostContext;

  std::unique_ptr<HttpTransfer> OpenRequest(const std::string& verb, const std::string& url,
                                            uint32_t flags,
                                            const std::vector<std::string>& extra_headers);
  std::string Encode(const std::string& text) const;
  void Write(const void* data, size_t size);
  std::unique_ptr<CHttpResponseT> Finish();

  CHttpClientMapT params_;
  CHttpClientMapT headers_;
  bool use_utf8_ = false;
  std::string user_agent_ = kDefaultUserAgent;
  int access_type_ = 0;
  std::string proxy_;
  std::string proxy_bypass_;
  uint32_t internet_flags_ = 0;
  std::string proxy_user_;
  std::string proxy_password_;
  uint32_t stall_timeout_ms_ = 60000;
  const platform::Event* cancel_ = nullptr;
  std::string boundary_;
  std::string content_type_;
  std::unique_ptr<PostContext> post_;
  CHttpPostStatT stat_;
};

}  // namespace Vexan
