// Checking a book of the collection against the manifest beside its install
// directory, as the admin tool's verify and the client before opening a
// book do it.
#pragma once

#include <string>

#include "books/book_manifest.h"
#include "books/book_record.h"

enum class BookCondition {
  kIntact,        // every entry as the package made it, nothing else
  kDamaged,       // something missing, changed or extra
  kNoManifest,    // no usable manifest: the book cannot be checked
  kOtherPackage,  // the manifest is of another package than the installed one
  kNotInstalled,  // the record does not say installed
};

struct InstalledBookCheck {
  BookCondition condition = BookCondition::kNotInstalled;
  BookCheck check;          // filled for kIntact and kDamaged
  std::string install_dir;  // of the record, even when not installed
};

// The record's install directory checked against its manifest. The reader's
// hand-over file, which the client writes into the book before each start,
// is never counted as extra.
InstalledBookCheck CheckRecordedBook(const BookRecord& record, CheckDepth depth);

// "intact", "damaged", "no manifest", "manifest of another package", "not installed".
const char* ConditionText(BookCondition condition);
