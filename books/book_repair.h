// Repairing an installed book: its installed package (not a newer one) is
// fetched again and installed over whatever is left of the book, through
// the same download worker as an upgrade, with its messages and record
// handling. Works whatever state the files are in, with or without a
// manifest, also when the install directory is gone.
#pragma once

#include <string>

#include "books/book_collection.h"
#include "books/book_operations.h"

inline constexpr const char* kRepairNotInstalledMessage = "该教材还未安装，无法修复，请先下载！";

// Starts the repair of the book the catalogue maps bsid to and answers at
// once; the record's worker does the work. 0; kBookRefused with a message
// for an unknown book, one being uninstalled, installed or downloaded, and
// one not installed.
BookOperationResult RepairBook(BookCollection& collection, const std::string& bsid);

// Under the record's lock: points the download at the installed package
// (identifier, digest, size), dropping a partial package of another target.
// False with the reason when the record is in no state to be repaired.
bool PrepareRepair(BookRecord& record, std::string& message);
