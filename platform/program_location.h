// Where the running program lives.
//
// The program directory is the directory of the running executable. Two
// overrides exist, both for tests and administration tools only:
//   - the environment variable TOMERACK_PROGRAM_DIR names a directory that
//     stands in for the executable's directory (the executable keeps its name);
//   - SetProgramPath() fixes the whole executable path, which the admin tool
//     uses to act on a client's program directory as the client "tomerack".
#pragma once

#include <string>

namespace platform {

inline constexpr const char* kProgramDirEnvironment = "TOMERACK_PROGRAM_DIR";
inline constexpr const char* kClientExecutableName = "tomerack";

// Full path of the executable in code page 936, or empty when it cannot be
// determined or held in that code page.
std::string ProgramPath();

// Replaces the executable path for the rest of the process (GBK text).
void SetProgramPath(const std::string& path);

// Checks that the executable's path can be held in code page 936. On failure
// error (UTF-8, for the user) says why.
bool CheckProgramPath(std::string& error);

}  // namespace platform
