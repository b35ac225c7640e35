// Splitting a request URL the way the HTTP code needs it, and putting it
// back together for the transport.
#pragma once

#include <string>

struct UrlParts {
  std::string scheme;  // text before the first "://", may be empty
  std::string host;
  int port = 80;        // explicit, or 443 for https and 80 otherwise
  bool secure = false;  // scheme is https (any case)
  // Path, query and fragment together, always starting with "/".
  std::string object;
};

// Result codes of AnalyzeUrl (the HTTP client's numbering).
inline constexpr int kUrlOk = 0;
inline constexpr int kUrlInvalid = 103;      // no host
inline constexpr int kUrlInvalidPort = 107;  // not 1-5 digits up to 65535

// Character-aware in code page 936: the host runs to the next ":", "/", "?",
// "#" or the end; a port follows a ":" up to the next "/"; the rest is the
// object, with "/" put in front when it does not start with one.
int AnalyzeUrl(const std::string& url, UrlParts& parts);

// scheme://host:port/object for libcurl. Bytes that may not stand in a URL
// as they are (blanks, control characters, bytes of 0x80 and above) are
// written as %XX, which is how they travel on the wire anyway.
std::string TransportUrl(const UrlParts& parts);
