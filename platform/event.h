// An event in the manner of Windows events: signalled or not, with manual
// reset (stays signalled until Reset) or auto reset (one waiter takes it).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

enum class EventReset { kManual, kAuto };

class Event {
 public:
  static constexpr uint32_t kInfinite = 0xFFFFFFFF;

  explicit Event(EventReset reset = EventReset::kManual, bool initially_set = false);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  // True when the event was (or became) signalled within timeout_ms;
  // kInfinite waits without limit. An auto-reset event is reset by a
  // successful wait.
  bool Wait(uint32_t timeout_ms = kInfinite);
  // True when signalled, without waiting (and without resetting).
  bool IsSet() const;

 private:
  const EventReset reset_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  bool set_;
};

}  // namespace platform
