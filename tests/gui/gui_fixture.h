// Shared pieces of the window tests: a private X server for the whole test
// program, a program directory per test, and reading what the pages wrote
// to the daily log with AppInterface_log("R:key=value").
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/support/program_dir.h"
#include "tests/support/run_command.h"
#include "tests/support/xvfb.h"

namespace testing_support {

class GuiFixture : public ProgramDirSandbox {
 protected:
  void SetUp() override;
  // The pages' reports so far: key -> value (the last one wins), GBK.
  std::map<std::string, std::string> Reports() const;
  // The reports' keys in the order they were written.
  std::vector<std::string> ReportOrder() const;
  // Writes a page under the program directory (UTF-8 text as given).
  void WritePage(const std::string& relative, const std::string& html) {
    WriteFile(relative, html);
  }

  // The helper every test page loads: report(key, value) and finish().
  static const char kReportScript[];

  // Runs the real client in this program directory on start_page (with more
  // [system] lines when given), for at most a minute. Message boxes are
  // logged to messages.txt and answered.
  CommandResult RunClient(const std::string& start_page, const std::string& extra_ini = "",
                          const std::map<std::string, std::string>& extra_environment = {});
};

}  // namespace testing_support
