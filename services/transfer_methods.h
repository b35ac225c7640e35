// The transfer methods of window.external: a download into a file and a
// form upload. Each blocks its caller until the transfer has ended.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/script_value.h"

// A call of an upload method with other than 6 to 8 arguments.
inline constexpr int32_t kUploadWrongArgumentCount = 1002005;

// URL, file path -> the download's result code; 1010002 when it reports
// success but no file results.
ScriptValue HttpDownloadMethod(const std::vector<ScriptValue>& arguments);

struct UploadOutcome {
  int32_t code = 0;
  std::string answer;      // GBK
  std::string error_text;  // GBK
  std::string callback;    // the page function to tell, or empty
};

// file field, file path, host, port, path, form fields [, callback
// [, headers]]: the upload, or kUploadWrongArgumentCount with nothing sent.
UploadOutcome RunPageUpload(const std::vector<ScriptValue>& arguments);
