// books verify and books repair: finding books whose files are no longer
// what their package made, and installing the package again.
#pragma once

#include <functional>
#include <string>

#include "books/book_collection.h"

// Exit statuses of verify and repair besides those of every command.
inline constexpr int kExitBookDamaged = 3;    // a book has files missing, changed or extra
inline constexpr int kExitBookUnchecked = 4;  // none damaged, but one could not be checked

// Checks every installed book (target "--all") or the book of one bsid
// against its manifest, content included. Prints a line per problem and a
// summary per book. 0 when every book checked is intact; kExitBookDamaged;
// kExitBookUnchecked (no manifest, not installed); 1 for an unknown book.
int VerifyBooks(BookCollection& collection, const std::string& uid, const std::string& target);

// Fetches the installed package of the book again and installs it, as an
// upgrade does, then verifies it. 0 only when the book ends installed and
// intact; kExitBookDamaged or kExitBookUnchecked when it ends installed
// but damaged or without a manifest to check it against; 1 otherwise.
// follow waits for the book's worker, showing progress.
int RepairBookFromTool(BookCollection& collection, const std::string& uid, const std::string& bsid,
                       OwnerPoster owner, const std::function<void(BookRecord&)>& follow);
