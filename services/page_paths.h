// Where the file methods of window.external look: page paths may use "/" or
// "\", a Windows drive ("C:/x") names the root, and a relative path is taken
// from the program directory.
#pragma once

#include <string>

// The path a page's directory (or path) argument names. Texts are GBK; an
// empty text names the program directory.
std::string ResolvePagePath(const std::string& text);
