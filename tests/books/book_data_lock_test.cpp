#include "books/book_data_lock.h"

#include <gtest/gtest.h>

#include "tests/support/program_dir.h"

namespace {

using Result = BookDataLock::Result;

class BookDataLockTest : public testing_support::ProgramDirSandbox {};

TEST_F(BookDataLockTest, OneHolderAtATimeInTheProgramDirectory) {
  BookDataLock first;
  EXPECT_EQ(first.path(), dir() + "/data/books.lock");
  ASSERT_EQ(first.Acquire(), Result::kAcquired);
  EXPECT_TRUE(first.held());
  EXPECT_TRUE(Exists("data/books.lock"));

  // Another holder, as a second program would be: a lock of its own.
  BookDataLock second(dir());
  EXPECT_EQ(second.Acquire(), Result::kAlreadyHeld);
  EXPECT_FALSE(second.held());
  first.Release();
  EXPECT_EQ(second.Acquire(), Result::kAcquired);
}

TEST_F(BookDataLockTest, AMissingProgramDirectoryIsNotMade) {
  BookDataLock lock(Path("missing"));
  EXPECT_EQ(lock.Acquire(), Result::kFailed);
  EXPECT_FALSE(Exists("missing"));
}

}  // namespace
