// db FILE [--names-only] [--sql SQL]
#include <cstdio>
#include <string_view>

#include "data/ansi_utf8_encoder.h"
#include "data/database_file_json.h"
#include "platform/codepage.h"
#include "tools/tool_common.h"

int RunDb(Arguments args) {
  constexpr const char kUsage[] = "usage: tomerack-tool db FILE [--names-only] [--sql SQL]";
  bool names_only = TakeFlag(args, "--names-only");
  std::string sql_utf8;
  bool has_sql = TakeOption(args, "--sql", sql_utf8);
  if (args.size() != 1 || args[0].starts_with("--")) return Fail(kUsage, kExitUsage);
  if (has_sql && sql_utf8.empty()) return Fail("--sql needs a statement", kExitUsage);

  std::string path;
  if (!ArgumentPath(args[0], path)) return kExitFailure;
  if (!platform::IsRepresentableInGbk(sql_utf8)) {
    return Fail("the statement cannot be held in code page 936");
  }
  // The answer stays in the buffer it was built in and goes out as UTF-8
  // piece by piece, so that a large one is never held twice.
  DatasetText json;
  std::string error;
  int32_t code = ReadDatabaseFile(path, names_only, platform::Utf8ToGbk(sql_utf8), json, &error);
  AnsiToUtf8Encoder encoder;
  bool written = encoder.Encode(json.view(), [](std::string_view piece) {
    return std::fwrite(piece.data(), 1, piece.size(), stdout) == piece.size();
  });
  json = DatasetText();
  if (!written || !WriteStdout("\n")) return Fail("cannot write standard output");
  if (code != 0) {
    return Fail("reading " + args[0] + " failed with code " + std::to_string(code) + ": " +
                platform::GbkToUtf8(error));
  }
  return kExitOk;
}
