// Shared pieces of the tomerack-tool subcommands.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

using Arguments = std::vector<std::string>;

// Exit statuses of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Prints "tomerack-tool: <message>" on stderr and returns status.
int Fail(const std::string& message_utf8, int status = kExitFailure);

// A path from the command line (UTF-8) as the program's code page 936 path;
// false, with a message printed, when it cannot be held in that code page.
bool ArgumentPath(const std::string& utf8, std::string& path);

// Writes bytes to standard output; false on a write error.
bool WriteStdout(const std::string& bytes);

// Takes "--name VALUE" out of args; true when it was there.
bool TakeOption(Arguments& args, const std::string& name, std::string& value);
// Takes a "--name" flag out of args.
bool TakeFlag(Arguments& args, const std::string& name);

// Points the program location at a client's program directory, so that every
// path the client derives (system/Config.EF, system/tomerack.ini, log/...) is
// the client's own. With an empty directory the tool's own directory is used.
bool UseProgramDirectory(const std::string& directory_utf8);

int RunSeal(Arguments args);
int RunUnseal(Arguments args);
int RunConfig(Arguments args);
int RunMd5(Arguments args);
int RunBase64(Arguments args);
int RunZip(Arguments args);
int RunHttp(Arguments args);
int RunDb(Arguments args);
int RunBooks(Arguments args);
int RunKeygen(Arguments args);
int RunSign(Arguments args);
