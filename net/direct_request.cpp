#include "net/direct_request.h"

#include <strings.h>

#include "net/request_helpers.h"

namespace {

std::string HeaderName(const std::string& line) {
  size_t colon = line.find(':');
  std::string name = line.substr(0, colon);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
  return name;
}

}  // namespace

std::vector<std::string> SplitHeaderText(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t end = text.find_first_of("\r\n", begin);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    if (!line.empty() && line.find(':') != std::string::npos) lines.push_back(line);
    begin = end + 1;
  }
  return lines;
}

void AddOrReplaceHeaders(std::vector<std::string>& headers, const std::vector<std::string>& lines) {
  for (const auto& line : lines) {
    std::string name = HeaderName(line);
    bool replaced = false;
    for (auto& existing : headers) {
      if (strcasecmp(HeaderName(existing).c_str(), name.c_str()) == 0) {
        existing = line;
        replaced = true;
        break;
      }
    }
    if (!replaced) headers.push_back(line);
  }
}

TransferSettings DirectTransferSettings() {
  TransferSettings settings;
  settings.user_agent = kBrowserUserAgent;
  settings.use_proxy = false;
  settings.tls_check = TlsCheck::kFull;
  return settings;
}

bool OpenDirectRequest(HttpTransfer& transfer, const std::string& verb, const std::string& url,
                       const std::vector<std::string>& headers, UrlParts& parts,
                       const TransferSettings& settings) {
  if (AnalyzeUrl(url, parts) != kUrlOk) return false;
  return transfer.Open(verb, TransportUrl(parts), headers, settings);
}
