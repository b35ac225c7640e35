// Result codes of the book collection and the installation.
#pragma once

inline constexpr int kBookOk = 0;
inline constexpr int kBookRefused = 1002010;      // refused, or a record that cannot be serialised
inline constexpr int kBookNoDiskSpace = 1002032;  // too little free space to install
inline constexpr int kBookReadFailed = 1010001;   // a file cannot be read
inline constexpr int kBookWriteFailed = 1010002;  // a file cannot be written
