// Time sources and the process-wide pseudo-random generator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

// Milliseconds since an arbitrary start, wrapping at 32 bits (GetTickCount).
uint32_t TickCountMs();

// Seconds since the epoch.
int64_t NowSeconds();

// Milliseconds on the monotonic clock, in 64 bits (never wraps).
int64_t MonotonicMs();

// The process-wide pseudo-random generator: the classic C runtime's linear
// congruential sequence (values 0..32767). Reseeding with the same value
// gives the same numbers, which server choice within one second relies on.
void SeedRandom(uint32_t seed);
int NextRandom();

// Seeds and draws count numbers as one step, so that another thread's
// reseeding cannot slip in between.
std::vector<int> SeedAndDraw(uint32_t seed, size_t count);

// A number uniform over all 32 bits from a generator of its own, seeded once
// from the system's entropy, so that processes started in the same second
// draw differently.
uint32_t RandomUint32();

}  // namespace platform
