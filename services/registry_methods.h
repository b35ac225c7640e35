// The registry methods of window.external, on the program's registry store.
// Arguments are the page's texts in the page's order (GBK; a non-text
// argument is an empty text); the result is "OK", the value read, or
// "Err:" and a code.
#pragma once

#include <string>
#include <vector>

// hive name, key path, value name, type ("int" or anything for a text).
std::string RegisterRead(const std::vector<std::string>& arguments);
// hive name, key path, value name, value [, type].
std::string RegisterWrite(const std::vector<std::string>& arguments);
