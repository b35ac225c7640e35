// Where the program keeps its files, all below the program directory:
//   system/    Config.EF, the instance INI file, tmp/grr.dat
//   temp/      temporary files
//   download/  downloads started from pages
//   log/       daily log files
//   DTM/Index.html  the default start page
#pragma once

#include <string>

// Full path of the running executable.
std::string GetProgramPath();

// The executable's file name.
std::string GetProgramFileName();

// The text after the last separator, or the whole path.
std::string GetFileNamePart(const std::string& path);
std::string GetFileNamePart(const std::string& path, size_t& length);

std::string GetSystemDirectoryPath();
std::string GetTempDirectoryPath();
std::string GetDownloadDirectoryPath();

// system/<executable name without its last extension>.ini
std::string GetInstanceIniPath();

// The INI file of another program: <its directory>/system/<its name>.ini,
// where a Windows-style four-character extension (".exe") is dropped.
std::string GetSiblingIniPath(const std::string& file);
