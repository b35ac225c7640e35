#include "util/process_helpers.h"

#include "util/path_names.h"

platform::ProcessHandle RunProgram(const std::string& program, const std::string& command_line) {
  std::vector<std::string> args = platform::SplitCommandLine(command_line);
  if (!args.empty()) args.erase(args.begin());
  return platform::StartProcess(program, args, GetParentDirectory(program));
}

bool GetProcessImagePath(const platform::ProcessHandle& process, std::string& path) {
  path.clear();
  if (!process.valid()) return false;
  return platform::ProcessImagePath(process.pid(), path);
}
