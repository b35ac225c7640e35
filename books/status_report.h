// The status texts the page polls for: every catalogue book with its
// percentage, tip and status word, and the per-book status objects of the
// "bookStatus" operation. Neither report changes anything.
#pragma once

#include <cstdint>
#include <string>

#include "books/book_record.h"

class BookCollection;

// downloaded * 100 / total on the two 32-bit values, truncated; 0 when
// total is 0. Larger than 100 when the counts say so.
int64_t RecordPercentage(const BookFields& fields);

// The "BookDownload" reply.
std::string BuildStatusReport(const BookCollection& collection);

// "[" objects "]" for the bsid (or, when it is empty, for every catalogue
// book). 0; kBookRefused when a bsid was given that the catalogue lacks.
int BuildBookStatusArray(const BookCollection& collection, const std::string& bsid,
                         const std::string& operation, std::string& text);
