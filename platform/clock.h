// Time sources and the process-wide pseudo-random generator.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start, wrapping at 32 bits (GetTickCount).
uint32_t TickCountMs();

// Seconds since the epoch.
int64_t NowSeconds();

// The process-wide pseudo-random generator: the classic C runtime's linear
// congruential sequence (values 0..32767). Reseeding with the same value
// gives the same numbers, which server choice within one second relies on.
void SeedRandom(uint32_t seed);
int NextRandom();

}  // namespace platform
