#include "browser/trusted_pages.h"

#include <cctype>

#include "config/parameter_store.h"
#include "config/program_paths.h"
#include "platform/codepage.h"
#include "platform/ini_file.h"
#include "util/path_names.h"
#include "util/string_split.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "scheme:" with a scheme of two or more letters (one letter is a drive).
bool HasScheme(const std::string& text) {
  size_t colon = text.find(':');
  if (colon == std::string::npos || colon < 2) return false;
  for (size_t i = 0; i < colon; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return std::isalpha(static_cast<unsigned char>(text[0])) != 0;
}

std::string Scheme(const std::string& url) {
  if (!HasScheme(url)) return std::string();
  return Lower(url.substr(0, url.find(':')));
}

bool IsSafeHost(const std::string& host) {
  if (host.empty()) return false;
  for (char c : host) {
    unsigned char u = static_cast<unsigned char>(c);
    if (!std::isalnum(u) && c != '.' && c != '-' && c != '_') return false;
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Removes "." and refuses ".." so that a path cannot climb out of a folder.
bool IsPlainPath(const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part == "..") return false;
    start = end + 1;
  }
  return true;
}

void AddHostOf(const std::string& text, std::vector<std::string>& hosts) {
  if (text.find("://") == std::string::npos) return;
  std::string host = UrlHost(text);
  if (!host.empty() && host.find('$') == std::string::npos) hosts.push_back(host);
}

}  // namespace

std::string UrlHost(const std::string& url) {
  size_t start = url.find("://");
  if (start == std::string::npos) return std::string();
  start += 3;
  size_t end = url.find_first_of("/?#", start);
  std::string authority =
      url.substr(start, end == std::string::npos ? std::string::npos : end - start);
  size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  if (!authority.empty() && authority[0] == '[')
    return Lower(authority);  // IPv6 literal, kept whole
  size_t colon = authority.find(':');
  if (colon != std::string::npos) authority.erase(colon);
  return Lower(authority);
}

std::string FileUrlFromPath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

std::string PathFromFileUrl(const std::string& url) {
  if (Scheme(url) != "file") return std::string();
  std::string rest = url.substr(5);
  if (rest.rfind("//", 0) == 0) {
    size_t slash = rest.find('/', 2);
    std::string host = rest.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
    if (!host.empty() && Lower(host) != "localhost") return std::string();
    rest = slash == std::string::npos ? "/" : rest.substr(slash);
  }
  size_t end = rest.find_first_of("?#");
  if (end != std::string::npos) rest.erase(end);
  std::string path;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size() + 0 && HexValue(rest[i + 1]) >= 0 &&
        HexValue(rest[i + 2]) >= 0) {
      path += static_cast<char>(HexValue(rest[i + 1]) * 16 + HexValue(rest[i + 2]));
      i += 2;
    } else {
      path += rest[i];
    }
  }
  if (path.find('\0') != std::string::npos) return std::string();
  return path;
}

std::string AddressToUrl(const std::string& address) {
  if (HasScheme(address)) return address;
  std::string path = address;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return FileUrlFromPath(path);
}

void TrustedPages::Configure(const std::string& program_directory, const std::string& start_page,
                             const std::vector<std::string>& hosts) {
  program_directory_ = platform::GbkToUtf8(program_directory);
  while (program_directory_.size() > 1 && program_directory_.back() == '/')
    program_directory_.pop_back();
  start_page_url_.clear();
  start_page_path_.clear();
  if (!start_page.empty()) {
    start_page_url_ = AddressToUrl(platform::GbkToUtf8(start_page));
    start_page_path_ = PathFromFileUrl(start_page_url_);
    std::string host = UrlHost(start_page_url_);
    if (start_page_path_.empty() && IsSafeHost(host)) hosts_.insert(host);
  }
  for (const std::string& entry : hosts) {
    std::string host = entry.find("://") != std::string::npos ? UrlHost(entry) : Lower(entry);
    size_t colon = host.find(':');
    if (colon != std::string::npos && host[0] != '[') host.erase(colon);
    if (IsSafeHost(host)) hosts_.insert(host);
  }
}

bool TrustedPages::IsTrusted(const std::string& url) const {
  std::string scheme = Scheme(url);
  if (scheme == "file") {
    std::string path = PathFromFileUrl(url);
    if (path.empty() || !IsPlainPath(path)) return false;
    if (!start_page_path_.empty() && path == start_page_path_) return true;
    return !program_directory_.empty() && path.size() > program_directory_.size() &&
           path.compare(0, program_directory_.size(), program_directory_) == 0 &&
           path[program_directory_.size()] == '/';
  }
  if (scheme == "http" || scheme == "https") {
    return hosts_.count(UrlHost(url)) != 0;
  }
  return false;
}

std::vector<std::string> TrustedPages::Patterns() const {
  std::vector<std::string> patterns;
  if (!program_directory_.empty()) patterns.push_back(FileUrlFromPath(program_directory_) + "/*");
  if (!start_page_path_.empty()) patterns.push_back(FileUrlFromPath(start_page_path_));
  for (const std::string& host : hosts_) {
    patterns.push_back("http://" + host + "/*");
    patterns.push_back("https://" + host + "/*");
  }
  return patterns;
}

TrustedPages CurrentTrustedPages() {
  std::vector<std::string> hosts;
  ParameterMap parameters;
  CopyAllParameters(parameters);
  for (const auto& [name, value] : parameters) {
    std::vector<std::string> parts;
    (void)SplitString(parts, ";", value, true);
    for (const std::string& part : parts) AddHostOf(part, hosts);
  }
  // Server list entries: kind#...#...#weight#host[:port]
  std::vector<std::string> entries;
  (void)SplitString(entries, ";", GetParameter("serverlist"), true);
  for (const std::string& entry : entries) {
    std::vector<std::string> fields;
    (void)SplitString(fields, "#", entry, false);
    if (fields.size() >= 5) hosts.push_back(fields[4]);
  }
  std::string extra =
      platform::GetPrivateProfileString("system", "trusted_hosts", "", GetInstanceIniPath());
  std::vector<std::string> added;
  (void)SplitByCharacters(extra.c_str(), added, ";, ");
  hosts.insert(hosts.end(), added.begin(), added.end());

  TrustedPages pages;
  pages.Configure(GetProgramDirectory(), GetParameter("startpage"), hosts);
  return pages;
}
