// The text of the tip window, shared by the workers that ask for the tip
// and the main window that shows it.
#pragma once

#include <string>

// Sets the text the next tip shows; any thread.
void SetTipText(const std::string& text);
std::string TipText();
