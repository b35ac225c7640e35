#include "config/program_paths.h"

#include "platform/file_system.h"
#include "platform/program_location.h"
#include "util/path_names.h"

std::string GetProgramPath() {
  return platform::ProgramPath();
}

std::string GetProgramFileName() {
  return GetFileNamePart(GetProgramPath());
}

std::string GetFileNamePart(const std::string& path) {
  size_t length = 0;
  return GetFileNamePart(path, length);
}

std::string GetFileNamePart(const std::string& path, size_t& length) {
  std::string name = GetFileNameFromPath(path);
  length = name.size();
  return name;
}

std::string GetSystemDirectoryPath() {
  return JoinPath(GetProgramDirectory(), "system");
}

std::string GetTempDirectoryPath() {
  return GetProgramDirectory() + "/temp";
}

std::string GetDownloadDirectoryPath() {
  return GetProgramDirectory() + "/download";
}

std::string GetInstanceIniPath() {
  std::string name = GetProgramFileName();
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot != 0) name.resize(dot);
  return GetProgramDirectory() + "/system/" + name + ".ini";
}

std::string GetSiblingIniPath(const std::string& file) {
  std::string name = GetFileNameFromPath(file);
  // Only a real ".xxx" extension is cut: Linux programs usually have none,
  // and cutting four characters blindly would mangle their names.
  if (name.size() >= 5 && name[name.size() - 4] == '.') name.resize(name.size() - 4);
  return JoinPath(JoinPath(GetParentDirectory(file), "system"), name + ".ini");
}
