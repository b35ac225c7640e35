#include "services/transfer_methods.h"

#include "browser/host_dispatch.h"
#include "net/request_helpers.h"
#include "services/service_arguments.h"
#include "util/file_io.h"
#include "util/path_names.h"
#include "util/string_split.h"

namespace {

constexpr int kDefaultPort = 80;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  (void)SplitString(lines, "\r\n", text, false);
  return lines;
}

// A header name keeps what stands before it and loses the blanks after it.
std::string WithoutTrailingBlanks(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  return text;
}

// "name=value" lines; a later name replaces an earlier one, lines without a
// name are passed over.
HttpFieldMap FormFields(const std::string& text) {
  HttpFieldMap fields;
  for (const std::string& line : Lines(text)) {
    size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 0) continue;
    fields[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return fields;
}

// "Name: value" lines, the name's trailing and the value's outer blanks
// removed.
HttpFieldMap HeaderFields(const std::string& text) {
  HttpFieldMap headers;
  for (const std::string& line : Lines(text)) {
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    headers[WithoutTrailingBlanks(line.substr(0, colon))] = TrimWhiteSpace(line.substr(colon + 1));
  }
  return headers;
}

}  // namespace

ScriptValue HttpDownloadMethod(const std::vector<ScriptValue>& arguments) {
  if (arguments.size() < 2) return ScriptValue::Int32(kUploadWrongArgumentCount);
  const std::string url = TextArgument(arguments, 0);
  const std::string path = ForwardSlashes(TextArgument(arguments, 1));
  int32_t code = HttpGetToFile(nullptr, false, nullptr, nullptr, path, nullptr, url);
  if (code == kHttpOk && (path.empty() || !FileExists(path))) code = kHttpFileWriteFailed;
  return ScriptValue::Int32(code);
}

UploadOutcome RunPageUpload(const std::vector<ScriptValue>& arguments) {
  UploadOutcome outcome;
  if (arguments.size() < 6 || arguments.size() > 8) {
    outcome.code = kUploadWrongArgumentCount;
    return outcome;
  }
  const HttpFieldMap files = {
      {TextArgument(arguments, 0), ForwardSlashes(TextArgument(arguments, 1))}};
  const std::string host = TextArgument(arguments, 2);
  const int port =
      IntegerOf(arguments, 3, kIntegerNumbers | kIntegerText | kIntegerTextRef, kDefaultPort);
  const std::string path = TextArgument(arguments, 4);
  const HttpFieldMap fields = FormFields(TextArgument(arguments, 5));
  outcome.callback = TextArgument(arguments, 6);
  const HttpFieldMap headers = HeaderFields(TextArgument(arguments, 7));
  const bool has_headers = arguments.size() == 8;
  outcome.code = HttpUploadForm(outcome.answer, fields, files, host, port, path,
                                outcome.error_text, has_headers ? &headers : nullptr);
  return outcome;
}
