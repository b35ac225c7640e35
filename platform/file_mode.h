// Permission bits: of files the program itself downloads and runs, and of
// files it must leave alone because someone made them read-only.
#pragma once

#include <string_view>

namespace platform {

// Adds the execute bits (for everyone who may read the file); false with the
// errno kept on failure.
bool MakeExecutable(std::string_view path);

// True when path names an existing file whose permission bits deny writing
// to this process: the owner's bits apply to its owner and to root, the
// group's to a member of its group, the others' to everyone else. Unlike
// access(2) this holds for root as well, so that a file an administrator
// made read-only stays so for the program, as the read-only attribute does
// on Windows.
bool IsWriteProtected(std::string_view path);

}  // namespace platform
