// The owner window of a collection goes away while workers post to it: once
// detached, none of its calls runs or starts.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "books/book_collection.h"
#include "tests/support/program_dir.h"

namespace {

using testing_support::WaitFor;

class CollectionOwnerTest : public testing_support::ProgramDirSandbox {};

TEST_F(CollectionOwnerTest, DetachingWaitsForTheCallUnderWayAndNoCallStartsAfter) {
  struct Case {
    const char* name;
    bool replaced;  // another window takes over, instead of none
  } cases[] = {{"detached", false}, {"replaced", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BookCollection collection;
    std::mutex lock;
    std::condition_variable changed;
    bool inside = false;
    bool release = false;
    std::atomic<int> old_calls{0};
    std::atomic<int> new_calls{0};
    collection.SetOwner([&](OwnerRequest) {
      std::unique_lock<std::mutex> hold(lock);
      ++old_calls;
      inside = true;
      changed.notify_all();
      changed.wait(hold, [&] { return release; });
    });
    std::thread worker([&] { collection.PostToOwner(OwnerRequest::kShowTip); });
    {
      std::unique_lock<std::mutex> hold(lock);
      ASSERT_TRUE(changed.wait_for(hold, std::chrono::seconds(30), [&] { return inside; }));
    }

    std::atomic<bool> detached{false};
    std::thread window([&] {
      collection.SetOwner(c.replaced ? OwnerPoster([&](OwnerRequest) { ++new_calls; }) : nullptr);
      detached = true;
    });
    EXPECT_FALSE(WaitFor([&] { return detached.load(); }, std::chrono::milliseconds(300)))
        << "detached while its poster still ran";
    {
      std::lock_guard<std::mutex> hold(lock);
      release = true;
      changed.notify_all();
    }
    worker.join();
    window.join();
    collection.PostToOwner(OwnerRequest::kHideTip);
    EXPECT_EQ(old_calls.load(), 1);
    EXPECT_EQ(new_calls.load(), c.replaced ? 1 : 0);
  }
}

TEST_F(CollectionOwnerTest, APosterMayDetachItsOwnWindow) {
  BookCollection collection;
  int calls = 0;
  collection.SetOwner([&](OwnerRequest) {
    ++calls;
    collection.SetOwner(nullptr);
  });
  collection.PostToOwner(OwnerRequest::kShowTip);
  collection.PostToOwner(OwnerRequest::kShowTip);
  EXPECT_EQ(calls, 1);
}

}  // namespace
