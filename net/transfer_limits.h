// Bounds on what one transfer may take, so that no server (a broken one or a
// hostile one) can make the client hold unbounded memory or a thread forever.
#pragma once

#include <cstdint>

// An answer collected in memory as text: service answers, the server list,
// the server test, upload answers.
inline constexpr uint64_t kMostTextAnswerBytes = uint64_t{64} << 20;
// The version text an upgrade server publishes.
inline constexpr uint64_t kMostVersionTextBytes = uint64_t{64} << 10;
// The upgrade program and its signature (64 bytes; some room for a server
// that adds a line break).
inline constexpr uint64_t kMostUpgradeProgramBytes = uint64_t{512} << 20;
inline constexpr uint64_t kMostUpgradeSignatureBytes = 4096;

// A transfer that stays below this rate for this long fails: a server that
// sends a byte now and then would otherwise keep it alive without end.
inline constexpr uint32_t kLowSpeedBytesPerSecond = 1024;
inline constexpr uint32_t kLowSpeedSeconds = 60;

// A cancel event set during a transfer ends it within this time, also in
// the middle of a read.
inline constexpr uint32_t kCancelCheckMs = 100;
