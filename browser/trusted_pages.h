// Which pages get window.external: files under the program directory, the
// configured start page, and the hosts of the service (its configured
// addresses, the server list and the hosts that [system] "trusted_hosts" of
// the instance INI file adds, separated by ";" or ","). Every other page gets
// none: the host object can read and write files.
#pragma once

#include <set>
#include <string>
#include <vector>

class TrustedPages {
 public:
  // program_directory and start_page are GBK; hosts are host names or
  // addresses, with or without a port.
  void Configure(const std::string& program_directory, const std::string& start_page,
                 const std::vector<std::string>& hosts);

  // url is UTF-8 as the web view reports it.
  bool IsTrusted(const std::string& url) const;

  // URL patterns (WebKit user-content form) that cover the trusted pages.
  std::vector<std::string> Patterns() const;

 private:
  std::string program_directory_;  // UTF-8, no trailing "/"
  std::string start_page_url_;     // UTF-8 URL
  std::string start_page_path_;    // UTF-8 path when the start page is a file
  std::set<std::string> hosts_;    // lower case, no port
};

// Builds the trusted set from the current configuration: the program
// directory, the start page, URL-valued parameters, "serverlist" and the INI
// setting.
TrustedPages CurrentTrustedPages();

// Host of a URL, lower case, without user and port; empty when none.
std::string UrlHost(const std::string& url);
// A local path (UTF-8) as a file URL, with percent-encoding.
std::string FileUrlFromPath(const std::string& path);
// The path of a file URL (UTF-8), or empty when it is not one.
std::string PathFromFileUrl(const std::string& url);
// A start page value as a URL: URLs unchanged, paths as file URLs.
std::string AddressToUrl(const std::string& address_utf8);
