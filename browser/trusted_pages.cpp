#include "browser/trusted_pages.h"

#include <cctype>

#include "config/parameter_store.h"
#include "config/program_paths.h"
#include "platform/codepage.h"
#include "platform/ini_file.h"
#include "util/number_text.h"
#include "util/path_names.h"
#include "util/string_split.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes every well-formed "%XX"; false when the result holds a NUL.
bool PercentDecode(const std::string& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out.find('\0') == std::string::npos;
}

std::string SchemeOf(const std::string& url) {
  if (!HasUrlScheme(url)) return std::string();
  return Lower(url.substr(0, url.find(':')));
}

int DefaultPort(const std::string& scheme) {
  return scheme == "https" ? 443 : 80;
}

// Letters, digits, "-", "_" and dots between non-empty labels.
bool IsHostName(const std::string& host) {
  if (host.empty() || host.front() == '.' || host.find("..") != std::string::npos) return false;
  for (char c : host) {
    unsigned char u = static_cast<unsigned char>(c);
    if (!std::isalnum(u) && c != '.' && c != '-' && c != '_') return false;
  }
  return true;
}

bool IsIpv6Literal(const std::string& host) {
  if (host.size() < 4 || host.front() != '[' || host.back() != ']') return false;
  for (size_t i = 1; i + 1 < host.size(); ++i) {
    unsigned char u = static_cast<unsigned char>(host[i]);
    if (!std::isxdigit(u) && host[i] != ':' && host[i] != '.') return false;
  }
  return host.find(':') != std::string::npos;
}

// "host", "host:port", "[v6]" or "[v6]:port" (port empty for none); false
// when it is none of these.
bool ParseHostPort(const std::string& text, std::string& host, std::string& port) {
  std::string raw_host;
  if (!text.empty() && text[0] == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos) return false;
    raw_host = text.substr(0, close + 1);
    std::string rest = text.substr(close + 1);
    if (!rest.empty() && rest[0] != ':') return false;
    port = rest.empty() ? std::string() : rest.substr(1);
  } else {
    size_t colon = text.find(':');
    raw_host = text.substr(0, colon);
    port = colon == std::string::npos ? std::string() : text.substr(colon + 1);
  }
  // A literal in brackets is taken as written; a name is decoded first, as
  // the web view does.
  if (raw_host.empty()) return false;
  if (raw_host[0] == '[') {
    host = raw_host;
  } else if (!PercentDecode(raw_host, host)) {
    return false;
  }
  host = Lower(host);
  if (host.size() > 1 && host.back() == '.' && host[0] != '[') host.pop_back();
  return host[0] == '[' ? IsIpv6Literal(host) : IsHostName(host);
}

bool ParsePort(const std::string& text, int default_port, int& port) {
  if (text.empty()) {
    port = default_port;
    return true;
  }
  if (text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    value = value * 10 + (c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = value;
  return true;
}

// The part of a URL after "scheme:", up to the query or fragment, with "\"
// as "/" as the web view reads it for these schemes.
std::string HierarchicalPart(const std::string& url) {
  std::string rest = url.substr(url.find(':') + 1);
  size_t end = rest.find_first_of("?#");
  if (end != std::string::npos) rest.erase(end);
  for (char& c : rest) {
    if (c == '\\') c = '/';
  }
  return rest;
}

bool StartsWithFolder(const std::string& path, const std::string& folder) {
  return !folder.empty() && path.size() > folder.size() + 1 &&
         path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

// The start page as the window opens it: relative paths are taken from the
// program directory, the default is the shipped index page.
std::string StartPageAddress() {
  std::string page = ParameterStore::Instance().Get("startpage");
  if (page.empty()) return JoinPath(GetProgramDirectory(), "DTM/Index.html");
  if (HasUrlScheme(page) || page[0] == '/' || page[0] == '\\') return page;
  return JoinPath(GetProgramDirectory(), page);
}

void FillFrom(const std::string& address, const std::string& server_list, size_t kind_index,
              std::vector<std::string>& out) {
  static const struct {
    const char* placeholder;
    const char* kind;
  } kPlaceholders[] = {{"$SERVER$", "app"}, {"$SERVER_CORE$", "cor"}, {"$SERVER_DATA$", "dat"}};
  for (size_t k = kind_index; k < std::size(kPlaceholders); ++k) {
    const std::string placeholder = kPlaceholders[k].placeholder;
    if (address.find(placeholder) == std::string::npos) continue;
    std::vector<std::string> entries;
    (void)SplitString(entries, ";", server_list, true);
    for (const std::string& entry : entries) {
      std::vector<std::string> fields;
      (void)SplitString(fields, "#", entry, false);
      // kind#...#...#weight#host[:port]; a server of weight 0 is never used.
      if (fields.size() < 5 || fields[0] != kPlaceholders[k].kind || fields[4].empty() ||
          ParseLeadingInt(fields[3]) <= 0) {
        continue;
      }
      std::string filled = address;
      for (size_t at = filled.find(placeholder); at != std::string::npos;
           at = filled.find(placeholder, at + fields[4].size())) {
        filled.replace(at, placeholder.size(), fields[4]);
      }
      FillFrom(filled, server_list, k + 1, out);
    }
    return;
  }
  out.push_back(address);
}

}  // namespace

std::string WebOrigin::Text() const {
  return scheme + "://" + host + ":" + std::to_string(port);
}

bool IsRelativeAddress(const std::string& address) {
  return !address.empty() && !HasUrlScheme(address) && address[0] != '/' && address[0] != '\\' &&
         !(address.size() > 1 && address[1] == ':');
}

bool HasUrlScheme(const std::string& text) {
  size_t colon = text.find(':');
  if (colon == std::string::npos || colon < 2) return false;
  if (!std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  for (size_t i = 0; i < colon; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

bool ParseWebOrigin(const std::string& url, WebOrigin& origin) {
  std::string scheme = SchemeOf(url);
  if (scheme != "http" && scheme != "https") return false;
  std::string rest = HierarchicalPart(url);
  if (rest.rfind("//", 0) != 0) return false;
  size_t end = rest.find('/', 2);
  std::string authority = rest.substr(2, end == std::string::npos ? std::string::npos : end - 2);
  // Everything up to the last "@" is user and password, never the host.
  size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  std::string host, port_text;
  int port = 0;
  if (!ParseHostPort(authority, host, port_text) ||
      !ParsePort(port_text, DefaultPort(scheme), port)) {
    return false;
  }
  origin = WebOrigin{scheme, host, port};
  return true;
}

std::string NormalizeAbsolutePath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out;
  for (const std::string& part : parts) out += "/" + part;
  return out.empty() ? "/" : out;
}

bool LocalPathOfFileUrl(const std::string& url, std::string& path) {
  if (SchemeOf(url) != "file") return false;
  std::string rest = HierarchicalPart(url);
  if (rest.rfind("//", 0) == 0) {
    size_t slash = rest.find('/', 2);
    std::string host = rest.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
    if (!host.empty() && Lower(host) != "localhost") return false;
    rest = slash == std::string::npos ? "/" : rest.substr(slash);
  }
  std::string decoded;
  if (rest.empty() || rest[0] != '/' || !PercentDecode(rest, decoded)) return false;
  // A "%5C" or "%2F" is a separator too once the file is opened.
  for (char& c : decoded) {
    if (c == '\\') c = '/';
  }
  path = NormalizeAbsolutePath(decoded);
  return true;
}

std::vector<std::string> EveryServerFilling(const std::string& address,
                                            const std::string& server_list) {
  std::vector<std::string> out;
  FillFrom(address, server_list, 0, out);
  return out;
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

std::string AddressToUrl(const std::string& address) {
  if (HasUrlScheme(address)) return address;
  std::string path = address;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return FileUrlFromPath(path);
}

void TrustedPages::AddEntry(const std::string& entry) {
  if (entry.empty()) return;
  WebOrigin origin;
  if (entry.find("://") != std::string::npos) {
    if (ParseWebOrigin(entry, origin)) origins_.insert(origin);
    return;
  }
  // A host alone, or host:port, means both schemes.
  std::string host, port_text;
  if (!ParseHostPort(entry, host, port_text)) return;
  for (const char* scheme : {"http", "https"}) {
    int port = 0;
    if (ParsePort(port_text, DefaultPort(scheme), port)) origins_.insert({scheme, host, port});
  }
}

void TrustedPages::Configure(const std::string& program_directory, const std::string& start_page,
                             const std::vector<std::string>& entries) {
  shipped_directory_.clear();
  start_page_path_.clear();
  origins_.clear();
  std::string program = platform::GbkToUtf8(program_directory);
  if (!program.empty() && program[0] == '/')
    shipped_directory_ = NormalizeAbsolutePath(program + "/DTM");
  if (!start_page.empty()) {
    std::string url = AddressToUrl(platform::GbkToUtf8(start_page));
    WebOrigin origin;
    if (!LocalPathOfFileUrl(url, start_page_path_)) {
      start_page_path_.clear();
      if (ParseWebOrigin(url, origin)) origins_.insert(origin);
    }
  }
  for (const std::string& entry : entries) AddEntry(entry);
}

bool TrustedPages::IsTrustedLocalFile(const std::string& url) const {
  std::string path;
  if (!LocalPathOfFileUrl(url, path)) return false;
  return (!start_page_path_.empty() && path == start_page_path_) ||
         StartsWithFolder(path, shipped_directory_);
}

bool TrustedPages::IsTrusted(const std::string& url) const {
  WebOrigin origin;
  if (ParseWebOrigin(url, origin)) return IsTrustedOrigin(origin);
  return IsTrustedLocalFile(url);
}

bool TrustedPages::PageMayLoad(const std::string& asking_url, const std::string& target) const {
  std::string scheme = SchemeOf(target);
  if (scheme == "http" || scheme == "https") return true;
  if (target == "about:blank" || target == "about:srcdoc") return true;
  return IsTrustedLocalFile(asking_url);
}

std::vector<std::string> TrustedPages::Patterns() const {
  std::vector<std::string> patterns;
  if (!shipped_directory_.empty()) patterns.push_back(FileUrlFromPath(shipped_directory_) + "/*");
  if (!start_page_path_.empty()) patterns.push_back(FileUrlFromPath(start_page_path_));
  std::set<std::string> seen;
  for (const WebOrigin& origin : origins_) {
    std::string pattern = origin.scheme + "://" + origin.host + "/*";
    if (seen.insert(pattern).second) patterns.push_back(pattern);
  }
  return patterns;
}

TrustedPages CurrentTrustedPages() {
  std::vector<std::string> entries;
  static const char* const kServiceAddresses[] = {"wwwhome",           "wwwhome_app",
                                                  "wwwhome_data",      "url_getTomeRack",
                                                  "url_getServerlist", "UpgradeURL"};
  // The raw values: reading them completes the placeholders with one server
  // drawn at random, and every server of the list must be trusted.
  const std::string servers = ParameterStore::Instance().Get("serverlist");
  for (const char* name : kServiceAddresses) {
    std::string value = ParameterStore::Instance().Get(name);
    if (value.empty()) continue;
    for (std::string& filled : EveryServerFilling(value, servers)) {
      if (HasUrlScheme(filled)) entries.push_back(std::move(filled));
    }
  }
  std::string extra =
      platform::GetPrivateProfileString("system", "trusted_hosts", "", GetInstanceIniPath());
  std::vector<std::string> added;
  (void)SplitByCharacters(extra.c_str(), added, ";, ");
  entries.insert(entries.end(), added.begin(), added.end());

  TrustedPages pages;
  pages.Configure(GetProgramDirectory(), StartPageAddress(), entries);
  return pages;
}
