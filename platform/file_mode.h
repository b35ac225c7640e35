// Permission bits of files the program itself downloads and runs.
#pragma once

#include <string_view>

namespace platform {

// Adds the execute bits (for everyone who may read the file); false with the
// errno kept on failure.
bool MakeExecutable(std::string_view path);

}  // namespace platform
