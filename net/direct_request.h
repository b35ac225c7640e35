// The common set-up of the request functions that talk to the service
// directly: browser-like user agent, no proxy, certificates checked.
#pragma once

#include <string>
#include <vector>

#include "net/http_transfer.h"
#include "net/url_parts.h"

// "Name: value" lines of a CR LF separated header text, in order; blank
// lines are dropped.
std::vector<std::string> SplitHeaderText(const std::string& text);

// Adds lines to headers, each replacing an earlier line of the same name.
void AddOrReplaceHeaders(std::vector<std::string>& headers, const std::vector<std::string>& lines);

TransferSettings DirectTransferSettings();

// Opens transfer for verb and url; false when the URL cannot be analysed or
// the request cannot be made.
bool OpenDirectRequest(HttpTransfer& transfer, const std::string& verb, const std::string& url,
                       const std::vector<std::string>& headers, UrlParts& parts,
                       const TransferSettings& settings);
