// Extracting the entries of an open archive into a directory that exists:
// in archive order on the calling thread, or spread over several threads.
//
// Either way the outcome is the one of the archive order: the failure
// reported is the failing entry of the lowest index, and every entry before
// it has been written. Run on several threads, entries after it may have
// been written as well: those the other threads took before its failure was
// known (while a large entry is written and found damaged, say).
#pragma once

#include <cstddef>
#include <exception>
#include <limits>
#include <string>

class CZipArchive;

struct EntryFailure {
  static constexpr size_t kNone = std::numeric_limits<size_t>::max();
  size_t index = kNone;
  // The entry's own message (ExtractEntry's), when it returned false.
  std::string message;
  // What it raised instead, to be raised again on the calling thread.
  std::exception_ptr error;

  bool failed() const { return index != kNone; }
};

// Every entry in archive order, stopping at the first that fails.
EntryFailure ExtractEntriesInOrder(CZipArchive& zip, const std::string& directory);

// True when the order in which entries are written cannot change what ends
// up on disk: no two entries lead to the same path, and no file lies where
// another entry needs a directory (compared as the file system might, ASCII
// letters without case). False too, to be safe, for names whose check would
// take more than a bounded amount of memory.
bool EntriesIndependent(const CZipArchive& zip);

// The directory entries first, in archive order on the calling thread, then
// the file entries taken in archive order by threads workers (the calling
// thread among them), each reading through an archive of its own opened
// alongside zip. Directory modes that zip defers are left to its Close. For
// archives whose entries are independent (EntriesIndependent).
EntryFailure ExtractEntriesInParallel(CZipArchive& zip, const std::string& directory,
                                      size_t threads);
