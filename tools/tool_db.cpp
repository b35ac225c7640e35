// db FILE [--names-only] [--sql SQL]
#include <string_view>

#include "data/database_file_json.h"
#include "platform/codepage.h"
#include "tools/tool_common.h"

namespace {

bool IsTrailByte(unsigned char c) {
  return c >= 0x40 && c <= 0xFE;
}

// Writes a code page 936 text as UTF-8, piece by piece so that a large
// answer is never held twice more. Runs of ASCII are copied as they are and
// only the runs between them converted; every run ends on a character
// boundary.
bool WriteGbkAsUtf8(std::string_view text) {
  constexpr size_t kPieceBytes = 1 << 20;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  std::string out;
  out.reserve(2 * kPieceBytes);
  size_t i = 0;
  while (i < text.size()) {
    size_t start = i;
    while (i < text.size() && bytes[i] < 0x80) ++i;
    out.append(text.substr(start, i - start));
    start = i;
    while (i < text.size() && bytes[i] >= 0x80) {
      bool pair =
          platform::IsGbkLeadByte(bytes[i]) && i + 1 < text.size() && IsTrailByte(bytes[i + 1]);
      i += pair ? 2 : 1;
    }
    if (i > start) out += platform::GbkToUtf8(text.substr(start, i - start));
    if (out.size() >= kPieceBytes || i == text.size()) {
      if (!WriteStdout(out)) return false;
      out.clear();
    }
  }
  return true;
}

}  // namespace

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
  std::string json;
  std::string error;
  int32_t code = ReadDatabaseFile(path, names_only, platform::Utf8ToGbk(sql_utf8), json, &error);
  if (!WriteGbkAsUtf8(json) || !WriteStdout("\n")) return Fail("cannot write standard output");
  if (code != 0) {
    return Fail("reading " + args[0] + " failed with code " + std::to_string(code) + ": " +
                platform::GbkToUtf8(error));
  }
  return kExitOk;
}
