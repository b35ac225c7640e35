// Test-only faults at the file and transfer steps of the program.
//
// Every write, rename, sync, close of a written file and removal, and every
// step of a package transfer, passes a fault point. The environment decides
// once, at the first point, what happens there:
//   TOMERACK_COUNT_POINTS=FILE        appends "N kind bytes path" per point
//   TOMERACK_KILL_AT_POINT=N          the Nth point kills the process (SIGKILL)
//   TOMERACK_FAIL_WRITES_AFTER_BYTES=N writes fail with ENOSPC once N bytes
//                                      have been written, as on a full disk
// Without these variables a point costs one test of a flag.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform {

inline constexpr const char kCountPointsEnvironment[] = "TOMERACK_COUNT_POINTS";
inline constexpr const char kKillAtPointEnvironment[] = "TOMERACK_KILL_AT_POINT";
inline constexpr const char kFailWritesAfterEnvironment[] = "TOMERACK_FAIL_WRITES_AFTER_BYTES";

// One point of kind ("write", "rename", ...) on path; bytes is the size of a
// write, 0 otherwise.
void FaultPoint(const char* kind, std::string_view path = {}, size_t bytes = 0);

// How many of count bytes the disk still takes: count, or fewer once the
// budget of TOMERACK_FAIL_WRITES_AFTER_BYTES runs out. The caller writes
// that many and then fails with ENOSPC.
size_t WritableBytes(size_t count);

}  // namespace platform
