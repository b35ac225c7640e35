// Holds one transfer to a rate, smoothly: each piece goes out no earlier
// than the moment the rate allows for every byte up to its end, counted from
// the transfer's first piece. A transfer of size bytes thus takes at least
// size / rate, and pieces leave evenly instead of a second's worth at once.
// A piece that is late (a slow reader) does not let later pieces burst: the
// schedule is kept from the start, not from the last piece.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

class TransferPace {
 public:
  explicit TransferPace(uint64_t bytes_per_second) : bytes_per_second_(bytes_per_second) {}

  // Waits until the bytes before end (counted from the transfer's start) may
  // have left. The first call starts the clock.
  void WaitUntilSent(uint64_t end) {
    using Clock = std::chrono::steady_clock;
    if (!started_) {
      start_ = Clock::now();
      started_ = true;
    }
    if (bytes_per_second_ == 0) return;
    const auto due = std::chrono::duration<double>(static_cast<double>(end) /
                                                   static_cast<double>(bytes_per_second_));
    std::this_thread::sleep_until(start_ + std::chrono::duration_cast<Clock::duration>(due));
  }

 private:
  uint64_t bytes_per_second_;
  bool started_ = false;
  std::chrono::steady_clock::time_point start_;
};
