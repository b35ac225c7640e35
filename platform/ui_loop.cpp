#include "platform/ui_loop.h"

#include <mutex>
#include <thread>

namespace platform {
namespace {

std::mutex& LoopLock() {
  static std::mutex lock;
  return lock;
}

UiLoop& Installed() {
  static UiLoop loop;
  return loop;
}

std::thread::id& UiThreadId() {
  static std::thread::id id = std::this_thread::get_id();
  return id;
}

}  // namespace

void SetUiLoop(UiLoop loop) {
  std::lock_guard<std::mutex> hold(LoopLock());
  Installed() = std::move(loop);
  UiThreadId() = std::this_thread::get_id();
}

void PostToUiThread(UiTask task) {
  std::function<void(UiTask)> post;
  {
    std::lock_guard<std::mutex> hold(LoopLock());
    post = Installed().post;
  }
  if (post) {
    post(std::move(task));
  } else if (task) {
    task();
  }
}

void RunKeepingUiAlive(UiTask work) {
  std::function<void(UiTask)> wait;
  {
    std::lock_guard<std::mutex> hold(LoopLock());
    wait = Installed().wait_keeping_ui_alive;
  }
  if (wait) {
    wait(std::move(work));
  } else if (work) {
    work();
  }
}

bool IsUiThread() {
  std::lock_guard<std::mutex> hold(LoopLock());
  return UiThreadId() == std::this_thread::get_id();
}

}  // namespace platform
