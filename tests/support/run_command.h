// Runs a program as a child process and captures what it prints.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace testing_support {

struct CommandResult {
  int exit_code = -1;  // -1 when killed by a signal
  int signal = 0;      // the signal that ended it, or 0
  std::string out;
  std::string err;
};

// Runs program with args; stdin_text is written to its standard input.
// Extra environment entries are added to (or replace) the test's own.
CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args,
                         const std::string& stdin_text = {},
                         const std::map<std::string, std::string>& env = {});

}  // namespace testing_support
