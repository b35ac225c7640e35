// The application's message box. The GUI installs the native one; until then
// (and in the tools) a message goes to standard error. With the variable
// TOMERACK_MESSAGE_LOG set to a file, every message box is appended there as
// "caption<TAB>text" (UTF-8, line breaks as "\n") and answered with OK at
// once, so that tests can read what the user would have been shown.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

inline constexpr const char kMessageLogEnvironment[] = "TOMERACK_MESSAGE_LOG";

// parent identifies the owning window (0 for none); texts are GBK; type and
// the answer are the Windows MB_ and ID constants.
using MessageBoxHandler = std::function<int(uintptr_t parent, const std::string& text,
                                            const std::string& caption, int type)>;

void SetMessageBoxHandler(MessageBoxHandler handler);
int ShowMessageBox(uintptr_t parent, const std::string& text, const std::string& caption, int type);

}  // namespace platform
