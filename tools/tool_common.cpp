#include "tools/tool_common.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/program_location.h"
#include "platform/shared_directory.h"
#include "util/path_names.h"

int Fail(const std::string& message_utf8, int status) {
  std::fprintf(stderr, "tomerack-tool: %s\n", message_utf8.c_str());
  return status;
}

bool ArgumentPath(const std::string& utf8, std::string& path) {
  if (!platform::IsRepresentableInGbk(utf8)) {
    Fail("path \"" + utf8 + "\" cannot be held in code page 936");
    return false;
  }
  path = platform::Utf8ToGbk(utf8);
  return true;
}

bool WriteStdout(const std::string& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
         std::fflush(stdout) == 0;
}

bool TakeOption(Arguments& args, const std::string& name, std::string& value) {
  auto it = std::find(args.begin(), args.end(), name);
  if (it == args.end() || it + 1 == args.end()) return false;
  value = *(it + 1);
  args.erase(it, it + 2);
  return true;
}

bool TakeFlag(Arguments& args, const std::string& name) {
  auto it = std::find(args.begin(), args.end(), name);
  if (it == args.end()) return false;
  args.erase(it);
  return true;
}

bool UseProgramDirectory(const std::string& directory_utf8) {
  std::string directory;
  if (directory_utf8.empty()) {
    directory = GetProgramDirectory();
    if (directory.empty()) {
      Fail("cannot determine the program directory; give --program-dir DIR");
      return false;
    }
  } else if (!ArgumentPath(directory_utf8, directory)) {
    return false;
  }
  platform::SetProgramPath(JoinPath(directory, platform::kClientExecutableName));
  // What an administrator prepares in a shared installation (Config.EF,
  // preloaded books) must stay writable for the accounts that use it.
  platform::ShareNewFilesInGroupDirectory(directory);
  return true;
}
