// The UI thread's main loop as the rest of the program sees it: other
// threads post work to it, and the UI thread can wait for slow work while
// the loop keeps turning (windows paint, timers run, pages stay answered).
// The GUI installs the real loop; without one (tools, unit tests) posted
// work runs wherever the installed poster puts it, and waits run inline.
#pragma once

#include <functional>

namespace platform {

using UiTask = std::function<void()>;

struct UiLoop {
  // Queues task to run later on the UI thread; callable from any thread.
  std::function<void(UiTask)> post;
  // Runs work on a helper thread and returns when it has ended, turning the
  // UI loop meanwhile; called on the UI thread only.
  std::function<void(UiTask)> wait_keeping_ui_alive;
};

// Replaces the installed loop; an empty member falls back to the default
// (post: run at once on the calling thread; wait: run inline).
void SetUiLoop(UiLoop loop);

void PostToUiThread(UiTask task);
void RunKeepingUiAlive(UiTask work);

// True on the thread that installed the loop last (the UI thread).
bool IsUiThread();

}  // namespace platform
