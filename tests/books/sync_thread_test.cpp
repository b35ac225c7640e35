// The collection's background synchronisation: a request leads to one
// catalogue pass, and stopping waits for the request under way but not for
// the rest of the pass.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "books/book_collection.h"
#include "tests/books/fake_catalogue_service.h"

namespace {

using testing_support::CatalogueReplyFor;
using testing_support::WaitFor;

class SyncThreadTest : public testing_support::FakeServiceSandbox {};

TEST_F(SyncThreadTest, RequestLeadsToExactlyOneSync) {
  collection_->StartSyncThread();
  collection_->RequestSync();
  ASSERT_TRUE(
      WaitFor([&] { return collection_->FindRecord("g1") != nullptr; }, std::chrono::seconds(60)));
  ASSERT_TRUE(WaitFor([&] { return !collection_->sync_running && !collection_->sync_requested; },
                      std::chrono::seconds(60)));
  collection_->StopSyncThread();
  EXPECT_EQ(service_.CatalogueRequests(), 1);
  EXPECT_TRUE(Exists("data/user/u1/bs.dat"));
}

TEST_F(SyncThreadTest, StopWaitsForTheRequestUnderWayAndKeepsItsAnswer) {
  service_.HoldCatalogue(true);
  collection_->StartSyncThread();
  collection_->RequestSync();
  ASSERT_TRUE(service_.WaitForCatalogueRequests(1));
  ASSERT_TRUE(collection_->sync_running);

  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    collection_->StopSyncThread();
    stopped = true;
  });
  EXPECT_FALSE(WaitFor([&] { return stopped.load(); }, std::chrono::milliseconds(300)));
  service_.HoldCatalogue(false);
  stopper.join();
  EXPECT_FALSE(collection_->sync_running);
  EXPECT_EQ(collection_->catalogue().RowCount(), 1u);
  EXPECT_TRUE(Exists("data/user/u1/bs.dat"));
  EXPECT_EQ(service_.CatalogueRequests(), 1);
}

// Cover requests wait in the service, one after the other, until the test
// lets the waiting one go.
class CoverValve {
 public:
  std::function<void()> Hook() {
    return [this] {
      std::unique_lock<std::mutex> hold(lock_);
      int mine = ++arrived_;
      changed_.notify_all();
      changed_.wait_for(hold, std::chrono::seconds(60),
                        [&] { return all_open_ || let_go_ >= mine; });
    };
  }
  bool WaitArrived(int count) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(60), [&] { return arrived_ >= count; });
  }
  void LetOneGo() {
    std::lock_guard<std::mutex> hold(lock_);
    ++let_go_;
    changed_.notify_all();
  }
  void OpenAll() {
    std::lock_guard<std::mutex> hold(lock_);
    all_open_ = true;
    changed_.notify_all();
  }
  int arrived() {
    std::lock_guard<std::mutex> hold(lock_);
    return arrived_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int arrived_ = 0;
  int let_go_ = 0;
  bool all_open_ = false;
};

// A login or the program's end must not wait for a whole pass over a long
// catalogue on a slow service.
TEST_F(SyncThreadTest, StopEndsAPassAtItsNextRequest) {
  constexpr int kBooks = 10;
  std::vector<std::string> gids;
  for (int i = 1; i <= kBooks; ++i) gids.push_back("g" + std::to_string(i));
  service_.SetCatalogueReply(CatalogueReplyFor(gids));
  CoverValve valve;
  service_.SetOnCover(valve.Hook());
  collection_->StartSyncThread();
  collection_->RequestSync();
  ASSERT_TRUE(valve.WaitArrived(1));

  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    collection_->StopSyncThread();
    stopped = true;
  });
  // Each cover let go is the pass's last once it sees the stop; the second
  // allows for a stop that came just after the first was answered.
  int let_go = 0;
  while (!stopped && let_go < kBooks) {
    valve.LetOneGo();
    ++let_go;
    WaitFor([&] { return stopped.load(); }, std::chrono::seconds(1));
  }
  valve.OpenAll();
  stopper.join();
  service_.SetOnCover(nullptr);
  EXPECT_LE(let_go, 2);
  EXPECT_LE(valve.arrived(), 2);
  EXPECT_LE(collection_->AllRecords().size(), 2u);
  EXPECT_FALSE(collection_->sync_running);
}

}  // namespace
