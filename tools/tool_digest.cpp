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

int RunBase64(Arguments args) {
  if (args.size() != 1) return Fail("usage: tomerack-tool base64 FILE", kExitUsage);
  std::string path;
  if (!ArgumentPath(args[0], path)) return kExitFailure;
  std::string data;
  if (!ReadWholeFile(path, data)) {
    // An empty file gives an empty text, as for pages.
    uint64_t size = 0;
    if (GetFileSizeOf(path, size) && size == 0) return kExitOk;
    return Fail("cannot read " + args[0]);
  }
  CBase64Coding coder;
  std::string text;
  coder.EncodeRawToText(data.data(), data.size(), text);
  std::string().swap(data);
  return WriteStdout(text) ? kExitOk : Fail("cannot write standard output");
}
