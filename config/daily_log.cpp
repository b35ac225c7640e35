#include "config/daily_log.h"

#include <time.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/file_system.h"
#include "util/file_io.h"
#include "util/path_names.h"

namespace {

std::mutex log_lock;

struct LogTarget {
  std::string file;
  std::string prefix;
};

// File name and line prefix from one reading of the clock, so a line written
// just before midnight goes to that day's file.
LogTarget MakeTarget() {
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  // Two-digit years, as the log names have always had: log170305.txt.
  char name[32];
  char prefix[40];
  snprintf(name, sizeof name, "/log%02d%02d%02d.txt", local.tm_year % 100, local.tm_mon + 1,
           local.tm_mday);
  snprintf(prefix, sizeof prefix, "%02d-%02d-%02d %02d:%02d:%02d : ", local.tm_year % 100,
           local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return {GetLogDirectoryPath() + name, prefix};
}

}  // namespace

std::string GetLogDirectoryPath() {
  return JoinPath(GetProgramDirectory(), "log");
}

void WriteLogLine(const std::string& text) {
  std::lock_guard<std::mutex> guard(log_lock);
  LogTarget target = MakeTarget();
  CreateDirectoryTree(GetLogDirectoryPath());
  AppendTextToFile(target.prefix + text + "\r\n", target.file);
}

void WriteLogFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string message;
  if (n > 0) {
    std::vector<char> buffer(static_cast<size_t>(n) + 1);
    vsnprintf(buffer.data(), buffer.size(), format, args);
    message.assign(buffer.data(), static_cast<size_t>(n));
  }
  va_end(args);
  message += "\r\n";

  LogTarget target = MakeTarget();
  CreateDirectoryTree(GetLogDirectoryPath());
  std::string line = target.prefix + message + "\r\n";
  std::lock_guard<std::mutex> guard(log_lock);
  AppendBytesToFile(line.data(), line.size(), target.file);
}

std::pair<int, std::string> FormatLastError() {
  int code = platform::LastErrorCode();
  return {code, platform::SystemErrorText(code)};
}

std::string FormatLastErrorText() {
  auto [code, text] = FormatLastError();
  if (text.empty()) return "Errorcode:" + std::to_string(code);
  return text;
}
