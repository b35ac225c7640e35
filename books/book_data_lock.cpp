#include "books/book_data_lock.h"

#include "platform/file_system.h"
#include "util/path_names.h"

namespace {

std::string LockPathIn(const std::string& program_directory) {
  return JoinPath(program_directory, "data/books.lock");
}

}  // namespace

BookDataLock::BookDataLock() : BookDataLock(GetProgramDirectory()) {}

BookDataLock::BookDataLock(const std::string& program_directory)
    : path_(LockPathIn(program_directory)), lock_(platform::ToNativePath(path_)) {}

BookDataLock::Result BookDataLock::Acquire() {
  if (lock_.held()) return Result::kAcquired;
  // data/ only: a program directory that is not there is not made here.
  std::string data = GetParentDirectory(path_);
  if (!platform::IsDirectory(data)) platform::MakeDirectory(data);
  return lock_.Acquire();
}
