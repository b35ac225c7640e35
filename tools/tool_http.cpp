// http get URL [--out FILE], http range URL FILE [--offset N]: a server
// checked by hand with the client's own request functions.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "net/request_helpers.h"
#include "platform/codepage.h"
#include "tools/tool_common.h"

namespace {

constexpr const char kUsage[] =
    "usage: tomerack-tool http get URL [--out FILE] | http range URL FILE [--offset N]";

bool ParseOffset(const std::string& text, uint32_t& offset) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (value > UINT32_MAX) return false;
  offset = static_cast<uint32_t>(value);
  return true;
}

int RunGet(Arguments args) {
  std::string out_utf8;
  bool has_out = TakeOption(args, "--out", out_utf8);
  if (args.size() != 1) return Fail(kUsage, kExitUsage);
  std::string url, out;
  if (!ArgumentPath(args[0], url)) return kExitFailure;
  if (has_out && !ArgumentPath(out_utf8, out)) return kExitFailure;

  std::string text, status_text;
  bool is_text = false;
  int32_t result =
      HttpGetToFile(nullptr, false, has_out ? nullptr : &text, &is_text, out, &status_text, url);
  if (result != kHttpOk) {
    return Fail("result " + std::to_string(result) +
                (status_text.empty() ? "" : " (" + platform::GbkToUtf8(status_text) + ")"));
  }
  if (!has_out) {
    if (!is_text) return Fail("the answer is not text; save it with --out FILE");
    // The body's own bytes, as the server sent them.
    if (!WriteStdout(text)) return kExitFailure;
  }
  return kExitOk;
}

int PrintProgress(DownloadProgress* progress) {
  static uint32_t last_reported = 0;
  switch (progress->stage) {
    case 4:
      std::fprintf(stderr, "answer headers:\n%s", progress->raw_headers);
      break;
    case 5:
      last_reported = 0;
      std::fprintf(stderr,
                   "writing from offset %" PRIu32 ", %" PRIu32 " of %" PRIu32 " bytes, range %s\n",
                   progress->start_offset, progress->content_length, progress->total_size,
                   progress->has_range ? "honoured" : "ignored");
      break;
    case 6:
      // About every MiB, and at the end.
      if (progress->received - last_reported >= (1u << 20) ||
          progress->received == progress->content_length) {
        last_reported = progress->received;
        std::fprintf(stderr, "received %" PRIu32 " of %" PRIu32 "\n", progress->received,
                     progress->content_length);
      }
      break;
    default:
      break;
  }
  return 0;
}

int RunRange(Arguments args) {
  std::string offset_text;
  uint32_t offset = 0;
  if (TakeOption(args, "--offset", offset_text) && !ParseOffset(offset_text, offset)) {
    return Fail("--offset needs a number from 0 to 4294967295", kExitUsage);
  }
  if (args.size() != 2) return Fail(kUsage, kExitUsage);
  std::string url, file;
  if (!ArgumentPath(args[0], url) || !ArgumentPath(args[1], file)) return kExitFailure;
  int32_t result =
      HttpDownloadRange(file, url, offset, nullptr, "tomerack-tool", &PrintProgress, nullptr);
  std::printf("%" PRId32 "\n", result);
  std::fflush(stdout);
  return result == kHttpOk ? kExitOk : kExitFailure;
}

}  // namespace

int RunHttp(Arguments args) {
  if (args.empty()) return Fail(kUsage, kExitUsage);
  std::string mode = args.front();
  args.erase(args.begin());
  if (mode == "get") return RunGet(std::move(args));
  if (mode == "range") return RunRange(std::move(args));
  return Fail(kUsage, kExitUsage);
}
