// Starting programs and finding the executable of a running one.
#pragma once

#include <string>

#include "platform/process.h"

// Starts program with a Windows-style command line whose first token is the
// program itself (as it is passed to a new process there); the remaining
// tokens become the arguments. The working directory is the program's own
// directory. An invalid handle when the start failed.
platform::ProcessHandle RunProgram(const std::string& program, const std::string& command_line);

// The full path of the process's executable; path is emptied first. False
// when the OS cannot report it.
bool GetProcessImagePath(const platform::ProcessHandle& process, std::string& path);
