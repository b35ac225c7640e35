// What the program under test wrote to its daily log, for tests that look
// for a line there.
#pragma once

#include <filesystem>
#include <string>

#include "config/daily_log.h"
#include "tests/support/sandbox.h"

namespace testing_support {

// Every daily log file of the program directory, one after the other
// (empty when nothing was logged yet).
inline std::string DailyLogText() {
  std::string text;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(GetLogDirectoryPath(), ignored))
    text += ReadBytes(entry.path().string());
  return text;
}

}  // namespace testing_support
