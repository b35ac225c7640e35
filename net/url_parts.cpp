#include "net/url_parts.h"

#include <strings.h>

#include "util/string_split.h"

namespace {

size_t FirstOf(const std::string& text, const char* chars, size_t from) {
  size_t best = std::string::npos;
  for (const char* c = chars; *c != '\0'; ++c) {
    size_t at = AnsiFind(text, std::string_view(c, 1), from);
    if (at < best) best = at;
  }
  return best;
}

}  // namespace

int AnalyzeUrl(const std::string& url, UrlParts& parts) {
  parts = UrlParts();
  size_t host_begin = 0;
  size_t marker = AnsiFind(url, "://");
  if (marker != std::string::npos) {
    parts.scheme = url.substr(0, marker);
    host_begin = marker + 3;
  }
  parts.secure = parts.scheme.size() == 5 && strncasecmp(parts.scheme.c_str(), "HTTPS", 5) == 0;
  parts.port = parts.secure ? 443 : 80;

  size_t host_end = FirstOf(url, ":/?#", host_begin);
  if (host_end == std::string::npos) host_end = url.size();
  parts.host = url.substr(host_begin, host_end - host_begin);
  size_t rest = host_end;
  if (rest < url.size() && url[rest] == ':') {
    size_t port_end = AnsiFind(url, "/", rest + 1);
    if (port_end == std::string::npos) port_end = url.size();
    std::string digits = url.substr(rest + 1, port_end - rest - 1);
    if (digits.empty() || digits.size() > 5) return kUrlInvalidPort;
    int port = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return kUrlInvalidPort;
      port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return kUrlInvalidPort;
    parts.port = port;
    rest = port_end;
  }
  if (parts.host.empty()) return kUrlInvalid;
  parts.object = url.substr(rest);
  if (parts.object.empty() || parts.object[0] != '/') parts.object.insert(0, "/");
  return kUrlOk;
}

std::string TransportUrl(const UrlParts& parts) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = parts.secure ? "https://" : "http://";
  url += parts.host;
  url += ':';
  url += std::to_string(parts.port);
  for (unsigned char c : parts.object) {
    if (c <= 0x20 || c >= 0x7F) {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    } else {
      url += static_cast<char>(c);
    }
  }
  return url;
}
