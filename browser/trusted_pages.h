// Which pages get window.external, and which addresses page content may
// open. The host object can read and write files, so trust is narrow:
//  - web origins (scheme, host, port) of the start page, of the named
//    service addresses (their server placeholders filled from every server
//    of the list) and of [system] "trusted_hosts" of the instance INI file;
//  - local files: the shipped pages below DTM/ and a local start page.
// Everything else, including files the client writes itself (download/,
// temp/, data/, log/, system/), is a stranger.
#pragma once

#include <set>
#include <string>
#include <vector>

// An http or https origin; port is explicit (80 and 443 by default).
struct WebOrigin {
  std::string scheme;  // "http" or "https"
  std::string host;    // lower case, percent-decoded, no trailing dot; IPv6 in []
  int port = 0;

  std::string Text() const;  // "https://host:443"
  auto operator<=>(const WebOrigin&) const = default;
};

// The origin of an http(s) URL; false when it is none or does not parse
// (a host with characters a host cannot have, a bad port, no "//").
[[nodiscard]] bool ParseWebOrigin(const std::string& url, WebOrigin& origin);

// The local path of a "file:" URL, percent-decoded, with "\" as "/" and
// "." and ".." resolved; false when the URL is not a local file URL.
[[nodiscard]] bool LocalPathOfFileUrl(const std::string& url, std::string& path);

// "/a/./b/../c" -> "/a/c" for an absolute path; ".." never climbs above "/".
std::string NormalizeAbsolutePath(const std::string& path);

// Whether text starts with a URL scheme ("http:", "file:"); a drive letter
// ("C:") or a colon after "/", "?" or "#" ("list.html?t=12:30") is none.
bool HasUrlScheme(const std::string& text);
// Whether an address (UTF-8) is taken against the page shown: no scheme, no
// absolute path, no drive letter.
bool IsRelativeAddress(const std::string& address);

class TrustedPages {
 public:
  // program_directory and start_page are GBK; start_page is a URL or an
  // absolute path. entries are URLs, origins ("https://h:8443"), hosts
  // (http and https on their default ports) or host:port (both schemes).
  void Configure(const std::string& program_directory, const std::string& start_page,
                 const std::vector<std::string>& entries);

  // url is UTF-8 as the web view reports it.
  bool IsTrusted(const std::string& url) const;
  bool IsTrustedLocalFile(const std::string& url) const;
  bool IsTrustedOrigin(const WebOrigin& origin) const { return origins_.count(origin) != 0; }

  // URL patterns (WebKit user-content form) that cover the trusted pages;
  // they cannot name a port, so they may cover more than IsTrusted, never
  // less. The host checks every call with IsTrusted.
  std::vector<std::string> Patterns() const;

  // Whether a page at asking_url may make the window load target: web
  // addresses and about:blank always, anything else (file:, data:, ...)
  // only from a trusted local page.
  bool PageMayLoad(const std::string& asking_url, const std::string& target) const;

 private:
  void AddEntry(const std::string& entry);

  std::string shipped_directory_;  // UTF-8 normalised path of DTM/, no trailing "/"
  std::string start_page_path_;    // UTF-8 normalised path when the start page is a file
  std::set<WebOrigin> origins_;
};

// Builds the trusted set from the current configuration.
TrustedPages CurrentTrustedPages();

// Every filling of the server placeholders of a service address with the
// servers of "serverlist" of the matching kind ("$SERVER$" app,
// "$SERVER_CORE$" cor, "$SERVER_DATA$" dat); the address itself when it has
// none, nothing when a kind has no server.
std::vector<std::string> EveryServerFilling(const std::string& address,
                                            const std::string& server_list);

// A local path (UTF-8) as a file URL, with percent-encoding.
std::string FileUrlFromPath(const std::string& path);
// A start page value as a URL: URLs unchanged, paths as file URLs.
std::string AddressToUrl(const std::string& address_utf8);
