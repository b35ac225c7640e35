// Installing a verified package: check the free space, unpack every entry
// into a staging directory, swap it in for the install directory, and
// record the package as installed. Runs on the book's worker thread; the caller saves the record.
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
//
// The package is unpacked into the staging directory beside the install
// directory and swapped in whole; whatever fails, the edition installed
// before stays installed (and the record says so again). staged tells that
// the unpacking already happened while the package arrived (kComplete), or
// that what arrived disagreed with the package's central directory
// (kDisagrees, with the reason in staged_detail for the log).
enum class StagedContent { kNone, kComplete, kDisagrees };
int InstallPackage(BookRecord& record, StagedContent staged = StagedContent::kNone,
                   const std::string& staged_detail = {});

// Free mebibytes on the file system of path, as the collection measures it
// (0 when the query fails).
uint64_t FreeSpaceForBook(const BookRecord& record, const std::string& path);

// Empties the directory and unpacks the package into it. 0, 1010008,
// 1010002 or 1010001, with the message left in the record. A failing entry
// is also shown at once through the collection's message box.
int ExtractPackage(BookRecord& record, const std::string& package, const std::string& directory);
