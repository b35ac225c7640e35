// The collection's background synchronisation: a request leads to one
// catalogue pass, and stopping waits for a pass under way.
#include <gtest/gtest.h>

#include <thread>

#include "books/book_collection.h"
#include "tests/books/fake_catalogue_service.h"

namespace {

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

TEST_F(SyncThreadTest, StopWaitsForTheSyncUnderWay) {
  service_.HoldCatalogue(true);
  collection_->StartSyncThread();
  collection_->RequestSync();
  ASSERT_TRUE(service_.WaitForCatalogueRequests(1));
  ASSERT_TRUE(collection_->sync_running);

  std::thread stopper([&] { collection_->StopSyncThread(); });
  service_.HoldCatalogue(false);
  stopper.join();
  // The pass ran to its end before the thread was gone.
  EXPECT_FALSE(collection_->sync_running);
  EXPECT_NE(collection_->FindRecord("g1"), nullptr);
  EXPECT_TRUE(Exists("data/user/u1/bs.dat"));
  EXPECT_EQ(service_.CatalogueRequests(), 1);
}

}  // namespace
