// Result codes and fixed texts of the data-file access.
#pragma once

#include <cstdint>

inline constexpr int32_t kDbOk = 0;
// The file type, its extension or a driver for it cannot be determined.
inline constexpr int32_t kDbUnknownType = 1001003;
// No driver could be chosen for an Excel, Access, dBase or text file.
inline constexpr int32_t kDbNoDriver = 1002008;
inline constexpr int32_t kDbOpenFailed = 1003001;
inline constexpr int32_t kDbNotOpen = 1003002;
// A failed statement answers this plus the ODBC return code of the failing
// call (SQL_ERROR gives 1003199), or this alone when there is none.
inline constexpr int32_t kDbStatementFailed = 1003200;

inline constexpr char kTextCannotDetermineType[] = "无法确定数据库类型";
inline constexpr char kTextUnknownFileType[] = "未知的文件类型";
inline constexpr char kTextNoExtension[] = "文件无后缀";
inline constexpr char kTextCannotListDrivers[] = "无法获得ODBC驱动";
inline constexpr char kTextNoMatchingDriver[] = "没有找到相关的ODBC驱动";
inline constexpr char kTextCannotOpen[] = "无法打开数据库";
