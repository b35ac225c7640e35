// JSON for texts in code page 936. cJSON reads and writes bytes: a GBK
// character whose second byte is 0x5C ("\") would be taken for an escape
// when parsed and get a backslash added when printed. These helpers go
// through UTF-8, where no character contains that byte, and hand back trees
// and texts in GBK.
#pragma once

#include <string>
#include <string_view>

#include "util/json_tree.h"

// Parses a GBK text; member names and string values of the tree are GBK.
// On failure returns null and, when rest is given, the text from the point
// where parsing stopped.
JsonPtr ParseGbkJson(std::string_view gbk, std::string* rest = nullptr);

// Prints a tree whose names and strings are GBK, as PrintJson does.
std::string PrintGbkJson(const cJSON* item, bool formatted = true);
