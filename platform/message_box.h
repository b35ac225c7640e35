// The application's message box. The GUI installs the native one; until then
// (and in the tools) a message goes to standard error and is answered with
// the box's first button.
//
// For tests: with the variable TOMERACK_MESSAGE_LOG set to a file, every
// message box is appended there as "caption<TAB>text" (UTF-8, line breaks as
// "\n") and answered at once, so that tests can read what the user would
// have been shown. The answer is the box's first button (OK, or Yes for a
// Yes/No box) unless TOMERACK_MESSAGE_ANSWER names another of its buttons:
// "ok", "cancel", "yes" or "no" (any case); a name the box has no button for
// gives the first button too. The program's other notification windows log
// their texts to the same file, and a file chooser for a download is logged
// as "[filechooser]<TAB>name" and answered as an OK/Cancel box: OK saves
// under the suggested name in the download directory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

inline constexpr const char kMessageLogEnvironment[] = "TOMERACK_MESSAGE_LOG";
inline constexpr const char kMessageAnswerEnvironment[] = "TOMERACK_MESSAGE_ANSWER";

// parent identifies the owning window (0 for none); texts are GBK; type and
// the answer are the Windows MB_ and ID constants.
using MessageBoxHandler = std::function<int(uintptr_t parent, const std::string& text,
                                            const std::string& caption, int type)>;

void SetMessageBoxHandler(MessageBoxHandler handler);
int ShowMessageBox(uintptr_t parent, const std::string& text, const std::string& caption, int type);

// The buttons of a message box of type, as the answers they give, in their
// order; the first is the default. The button set is the low four bits:
// OK/Cancel (1) and Yes/No (4); every other set shows OK alone.
std::vector<int> MessageBoxButtons(int type);

// Whether a message log is set: then a question of the program's own is
// logged and answered as a box would be (see above) instead of shown.
bool MessageLogIsSet();
// The answer a logged box of type gets.
int LoggedMessageAnswer(int type);

// Appends "caption<TAB>text" to the message log when one is set (GBK texts,
// written as UTF-8 on one line); nothing otherwise.
void AppendMessageLog(const std::string& caption, const std::string& text);

}  // namespace platform
