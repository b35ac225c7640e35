// zip list ARCHIVE, zip extract ARCHIVE DIR
#include <cinttypes>
#include <cstdio>

#include "platform/codepage.h"
#include "tools/tool_common.h"
#include "zip/extract_archive.h"
#include "zip/zip_archive.h"
#include "zip/zip_exception.h"

namespace {

constexpr const char* kUsage = "usage: tomerack-tool zip list ARCHIVE | extract ARCHIVE DIR";

std::string EntryLine(const CZipFileHeader& h) {
  char line[160];
  unsigned date = h.dos_date;
  unsigned time = h.dos_time;
  std::snprintf(line, sizeof line,
                "%10" PRIu32 " %10" PRIu32 " %-8s %04u-%02u-%02u %02u:%02u:%02u  ",
                h.uncompressed_size, h.compressed_size,
                h.method == 0   ? "stored"
                : h.method == 8 ? "deflated"
                                : "other",
                1980 + (date >> 9), (date >> 5) & 0x0f, date & 0x1f, time >> 11, (time >> 5) & 0x3f,
                2 * (time & 0x1f));
  return line + platform::GbkToUtf8(h.name()) + "\n";
}

int List(const std::string& archive_utf8) {
  std::string path;
  if (!ArgumentPath(archive_utf8, path)) return kExitFailure;
  CZipArchive zip;
  try {
    zip.Open(path);
    std::string out;
    for (size_t i = 0; i < zip.GetCount(); ++i) out += EntryLine(zip.GetFileInfo(i));
    out += std::to_string(zip.GetCount()) + " entries\n";
    return WriteStdout(out) ? kExitOk : kExitFailure;
  } catch (const CZipException& e) {
    return Fail(archive_utf8 + ": " + e.CauseText());
  } catch (const CPlatformException& e) {
    return Fail(platform::GbkToUtf8(e.GetDescription()));
  }
}

int Extract(const std::string& archive_utf8, const std::string& directory_utf8) {
  std::string archive;
  std::string directory;
  if (!ArgumentPath(archive_utf8, archive) || !ArgumentPath(directory_utf8, directory))
    return kExitFailure;
  std::string message;
  ExtractReport report;
  int result = ExtractArchive(archive, directory, message, &report);
  if (result == kExtractOk) return kExitOk;
  std::string text = "extraction failed (" + std::to_string(result) + ")";
  if (!report.detail.empty()) text += ": " + platform::GbkToUtf8(report.detail);
  if (!message.empty() && report.detail.find(message) == std::string::npos)
    text += " - " + platform::GbkToUtf8(message);
  return Fail(text);
}

}  // namespace

int RunZip(Arguments args) {
  if (args.size() == 2 && args[0] == "list") return List(args[1]);
  if (args.size() == 3 && args[0] == "extract") return Extract(args[1], args[2]);
  return Fail(kUsage, kExitUsage);
}
