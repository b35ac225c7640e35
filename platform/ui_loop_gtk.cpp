#include "platform/ui_loop_gtk.h"

#include <glib.h>

#include <thread>

#include "platform/ui_loop.h"

namespace platform {
namespace {

gboolean RunTask(gpointer data) {
  UiTask& task = *static_cast<UiTask*>(data);
  if (task) task();
  return G_SOURCE_REMOVE;
}

void DeleteTask(gpointer data) {
  delete static_cast<UiTask*>(data);
}

// An idle source rather than g_main_context_invoke: invoke runs the task at
// once when the caller owns the context, and a post must always run later.
// The task is freed with its source, also when the source is removed unrun.
void PostToMainContext(UiTask task) {
  g_idle_add_full(G_PRIORITY_DEFAULT, RunTask, new UiTask(std::move(task)), DeleteTask);
}

void WaitTurningMainLoop(UiTask work) {
  if (!IsUiThread()) {
    // Only the UI thread may turn the loop; anyone else just waits.
    if (work) work();
    return;
  }
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  // The end is posted rather than quitting the loop from the helper thread:
  // a quit that came before g_main_loop_run would be lost.
  std::thread helper([&work, loop] {
    if (work) work();
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
          g_main_loop_quit(static_cast<GMainLoop*>(data));
          return G_SOURCE_REMOVE;
        },
        g_main_loop_ref(loop),
        [](gpointer data) { g_main_loop_unref(static_cast<GMainLoop*>(data)); });
  });
  g_main_loop_run(loop);
  helper.join();
  g_main_loop_unref(loop);
}

}  // namespace

void InstallGtkUiLoop() {
  SetUiLoop(UiLoop{PostToMainContext, WaitTurningMainLoop});
}

}  // namespace platform
