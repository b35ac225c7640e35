#include <time.h>

#include <mutex>
#include <random>

#include "platform/clock.h"

namespace platform {
namespace {

std::mutex random_lock;
uint32_t random_state = 1;

}  // namespace

uint32_t TickCountMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                               static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

int64_t NowSeconds() {
  return static_cast<int64_t>(::time(nullptr));
}

int64_t MonotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + static_cast<int64_t>(ts.tv_nsec) / 1000000;
}

void SeedRandom(uint32_t seed) {
  std::lock_guard<std::mutex> guard(random_lock);
  random_state = seed;
}

namespace {

int Step() {
  random_state = random_state * 214013u + 2531011u;
  return static_cast<int>((random_state >> 16) & 0x7FFF);
}

}  // namespace

int NextRandom() {
  std::lock_guard<std::mutex> guard(random_lock);
  return Step();
}

std::vector<int> SeedAndDraw(uint32_t seed, size_t count) {
  std::vector<int> numbers(count);
  std::lock_guard<std::mutex> guard(random_lock);
  random_state = seed;
  for (auto& n : numbers) n = Step();
  return numbers;
}

uint32_t RandomUint32() {
  static std::mutex lock;
  static std::mt19937 generator{std::random_device{}()};
  std::lock_guard<std::mutex> guard(lock);
  return static_cast<uint32_t>(generator());
}

}  // namespace platform
