// The daily log: one text file per day, log/logYYMMDD.txt under the program
// directory, each line prefixed with the local time "YY-MM-DD HH:MM:SS : ".
// Lines are code page 936 bytes ending in "\r\n". A log that cannot be
// written is ignored; logging never stops the program.
#pragma once

#include <string>
#include <utility>

std::string GetLogDirectoryPath();

// Appends one line.
void WriteLogLine(const std::string& text);

// Formats the message printf-style and appends it followed by an empty line.
void WriteLogFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The calling thread's last error code and the system's text for it (empty
// when the system has none).
std::pair<int, std::string> FormatLastError();

// Only the text; "Errorcode:<code>" when the system has none.
std::string FormatLastErrorText();
