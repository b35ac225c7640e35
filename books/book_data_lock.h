// The lock that keeps two programs off one program directory's books.
//
// The client and `tomerack-tool books` both write the book files below
// P/data (records, package lists, the catalogue cache, packages and
// install directories) and both finish interrupted work at start, so they
// must never run on the same program directory at once. Each takes this
// lock before it touches the books and keeps it until it ends: an
// exclusive flock on P/data/books.lock, taken without waiting. The lock
// goes with the process, however it ends.
//
//   BookDataLock lock;                       // the program directory's
//   if (lock.Acquire() == BookDataLock::Result::kAlreadyHeld) {
//     // another program works on these books: refuse, and say so
//   }
#pragma once

#include <string>

#include "platform/file_lock.h"

class BookDataLock {
 public:
  using Result = platform::FileLock::Result;

  // program_directory: a code page 936 path; by default the program's own.
  BookDataLock();
  explicit BookDataLock(const std::string& program_directory);
  BookDataLock(const BookDataLock&) = delete;
  BookDataLock& operator=(const BookDataLock&) = delete;

  // Creates P/data when needed (not P itself) and takes the lock.
  // kAlreadyHeld while another process holds it; kFailed when the file
  // cannot be made or opened (the errno says why).
  Result Acquire();
  void Release() { lock_.Release(); }
  bool held() const { return lock_.held(); }
  // The lock file, in the program's code page.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  platform::FileLock lock_;
};
