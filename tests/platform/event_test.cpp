#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/sandbox.h"

namespace {

using platform::Event;
using platform::EventReset;
using Clock = std::chrono::steady_clock;

TEST(EventTest, ManualResetStaysSignalledUntilReset) {
  Event event(EventReset::kManual);
  EXPECT_FALSE(event.Wait(0));
  event.Set();
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(10));
  EXPECT_TRUE(event.IsSet());
  event.Reset();
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.Wait(0));
}

TEST(EventTest, AutoResetIsTakenBySuccessfulWait) {
  Event event(EventReset::kAuto, true);
  EXPECT_TRUE(event.IsSet());
  EXPECT_TRUE(event.IsSet());  // looking does not take it
  EXPECT_TRUE(event.Wait(0));
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.Wait(0));
}

TEST(EventTest, TimedWaitWaitsItsTime) {
  Event event;
  auto start = Clock::now();
  EXPECT_FALSE(event.Wait(60));
  auto elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(60));
  EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST(EventTest, WaiterWokenByAnotherThread) {
  for (EventReset reset : {EventReset::kManual, EventReset::kAuto}) {
    Event event(reset);
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = event.Wait(Event::kInfinite) ? 1 : 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(result.load(), -1);
    event.Set();
    waiter.join();
    EXPECT_EQ(result.load(), 1);
    EXPECT_EQ(event.IsSet(), reset == EventReset::kManual);
  }
}

TEST(EventTest, AutoResetReleasesOneWaiterPerSet) {
  Event event(EventReset::kAuto);
  std::atomic<int> woken{0};
  std::thread a([&] { woken += event.Wait(10000) ? 1 : 0; });
  std::thread b([&] { woken += event.Wait(10000) ? 1 : 0; });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  event.Set();
  EXPECT_TRUE(testing_support::WaitFor([&] { return woken == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(woken.load(), 1);
  event.Set();
  a.join();
  b.join();
  EXPECT_EQ(woken.load(), 2);
  EXPECT_FALSE(event.IsSet());
}

TEST(EventTest, ManualResetReleasesAllWaiters) {
  Event event(EventReset::kManual);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i) waiters.emplace_back([&] { woken += event.Wait(10000) ? 1 : 0; });
  event.Set();
  for (std::thread& t : waiters) t.join();
  EXPECT_EQ(woken.load(), 4);
}

}  // namespace
