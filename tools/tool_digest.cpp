// md5 FILE, base64 FILE
#include "platform/file_system.h"
#include "tools/tool_common.h"
#include "util/base64.h"
#include "util/file_io.h"
#include "util/md5.h"

int RunMd5(Arguments args) {
  if (args.size() != 1) return Fail("usage: tomerack-tool md5 FILE", kExitUsage);
  std::string path;
  if (!ArgumentPath(args[0], path)) return kExitFailure;
  MD5Computer md5;
  std::string digest;
  if (!md5.FileMD5(digest, path)) return Fail("cannot read " + args[0]);
  return WriteStdout(digest + "\n") ? kExitOk : kExitFailure;
}

namespace {

// The text of the whole file, encoded block by block so that memory stays
// small for any file size. A block holds whole 72-character lines (54 input
// bytes each), so its text is exactly the corresponding part of the
// whole-file text, followed by the "=" that ends every encoded text; that "="
// is kept only after the last block.
bool StreamBase64(platform::File& file) {
  constexpr size_t kBlockBytes = 54 * 32768;
  std::string block(kBlockBytes, '\0');
  std::string text;
  CBase64Coding coder;
  bool pending_end = false;
  for (;;) {
    size_t got = 0;
    while (got < kBlockBytes) {
      int64_t n = file.Read(block.data() + got, kBlockBytes - got);
      if (n < 0) return false;
      if (n == 0) break;
      got += static_cast<size_t>(n);
    }
    if (got == 0) break;
    coder.EncodeRawToText(block.data(), got, text);
    pending_end = got == kBlockBytes;
    if (pending_end) text.pop_back();
    if (!WriteStdout(text)) return false;
    if (!pending_end) return true;
  }
  return !pending_end || WriteStdout("=");
}

}  // namespace

int RunBase64(Arguments args) {
  if (args.size() != 1) return Fail("usage: tomerack-tool base64 FILE", kExitUsage);
  std::string path;
  if (!ArgumentPath(args[0], path)) return kExitFailure;
  platform::File file(path, platform::OpenMode::kRead);
  if (!file.IsOpen()) return Fail("cannot read " + args[0]);
  // An empty file gives an empty text, as for pages.
  if (!StreamBase64(file)) return Fail("cannot read " + args[0] + " or write standard output");
  return kExitOk;
}
