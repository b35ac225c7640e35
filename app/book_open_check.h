// What opening a book does about the state of its files: a cheap look at
// every entry of its manifest (sizes only) before the reader starts. A book
// with files missing or changed is not opened; the user is offered a
// repair instead. Files the package did not make do not stop a book: its
// reader may keep files of its own there. Without a manifest the book
// opens as it always has.
#pragma once

#include <string>

#include "books/installed_book_check.h"

enum class OpenDecision { kOpen, kOfferRepair };

OpenDecision DecideBeforeOpening(const InstalledBookCheck& check);

// The files that keep the book from opening: missing and changed.
size_t DamagedFileCount(const InstalledBookCheck& check);

// "教材文件不完整（缺少或损坏 N 个文件），是否重新下载修复？"
std::string RepairQuestion(size_t damaged_files);

// The daily log's line about what the look before opening found; empty for
// an intact book.
std::string OpenCheckLogLine(const std::string& book_id, const InstalledBookCheck& check);
