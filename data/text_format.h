// printf-style formatting into a std::string, for the fixed message formats
// of the data-file access (texts in code page 936).
#pragma once

#include <string>

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
