#include "platform/event.h"

namespace platform {

Event::Event(EventReset reset, bool initially_set) : reset_(reset), set_(initially_set) {}

void Event::Set() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    set_ = true;
  }
  // An auto-reset event releases a single waiter.
  if (reset_ == EventReset::kAuto) {
    changed_.notify_one();
  } else {
    changed_.notify_all();
  }
}

void Event::Reset() {
  std::lock_guard<std::mutex> guard(lock_);
  set_ = false;
}

bool Event::Wait(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> guard(lock_);
  auto is_set = [this] { return set_; };
  if (timeout_ms == kInfinite) {
    changed_.wait(guard, is_set);
  } else if (!changed_.wait_for(guard, std::chrono::milliseconds(timeout_ms), is_set)) {
    return false;
  }
  if (reset_ == EventReset::kAuto) set_ = false;
  return true;
}

bool Event::IsSet() const {
  std::lock_guard<std::mutex> guard(lock_);
  return set_;
}

}  // namespace platform
