// Installing a verified package: check the free space, empty the install
// directory, unpack every entry into it, and record the package as
// installed. Runs on the book's worker thread; the caller saves the record.
#pragma once

#include <cstdint>
#include <string>

#include "books/book_record.h"

inline constexpr const char* kNoDiskSpaceMessage = "硬盘空间不够，请关闭程序，清理硬盘后再启动";
inline constexpr const char* kEntryFailedPrefix = "安装出错，检查是不是有杀毒阻止安装：";
// Below this much free space a failed extraction keeps the package.
inline constexpr uint64_t kKeepPackageBelowMB = 200;

// Whole mebibytes needed to unpack a package that declares expanded_size
// bytes of entries (rounded up).
uint64_t SpaceNeededMB(uint64_t expanded_size);

// 0 when installed; kBookNoDiskSpace, or the extraction's code (1010008,
// 1010002, 1010001). The record's message and error counter tell the user.
// The space check uses the sizes the package's entries declare, which the
// extraction never exceeds; a package that cannot be read for it goes on
// to the extraction, which reports why.
int InstallPackage(BookRecord& record);

// Empties the directory and unpacks the package into it. 0, 1010008,
// 1010002 or 1010001, with the message left in the record. A failing entry
// is also shown at once through the collection's message box.
int ExtractPackage(BookRecord& record, const std::string& package, const std::string& directory);
