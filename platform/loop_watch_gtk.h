// A watch on the UI loop for benchmarks: with TOMERACK_LOOP_WATCH=FILE set,
// a 10 ms timer notes how late each of its ticks comes; at the end the
// longest stall and the tick count go to FILE as "longest_stall_ms=N
// ticks=N stalls_over_100ms=N". Without the variable nothing runs.
#pragma once

namespace platform {

inline constexpr const char kLoopWatchEnvironment[] = "TOMERACK_LOOP_WATCH";

void StartLoopWatch();
// Writes the figures (once) and stops the timer.
void StopLoopWatch();

}  // namespace platform
