#include "platform/loop_watch_gtk.h"

#include <glib.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace platform {
namespace {

constexpr guint kTickMs = 10;

struct LoopWatch {
  std::string file;
  guint source = 0;
  gint64 last_us = 0;
  gint64 longest_us = 0;
  long ticks = 0;
  long over_100ms = 0;
};

LoopWatch& Watch() {
  static LoopWatch watch;
  return watch;
}

gboolean OnTick(gpointer) {
  LoopWatch& watch = Watch();
  gint64 now = g_get_monotonic_time();
  gint64 late = now - watch.last_us - kTickMs * 1000;
  if (late > watch.longest_us) watch.longest_us = late;
  if (late > 100 * 1000) ++watch.over_100ms;
  ++watch.ticks;
  watch.last_us = now;
  return G_SOURCE_CONTINUE;
}

}  // namespace

void StartLoopWatch() {
  const char* file = std::getenv(kLoopWatchEnvironment);
  if (file == nullptr || *file == '\0') return;
  LoopWatch& watch = Watch();
  watch.file = file;
  watch.last_us = g_get_monotonic_time();
  watch.source = g_timeout_add(kTickMs, OnTick, nullptr);
}

void StopLoopWatch() {
  LoopWatch& watch = Watch();
  if (watch.source == 0) return;
  g_source_remove(watch.source);
  watch.source = 0;
  if (FILE* out = std::fopen(watch.file.c_str(), "w")) {
    std::fprintf(out, "longest_stall_ms=%.1f ticks=%ld stalls_over_100ms=%ld\n",
                 static_cast<double>(watch.longest_us) / 1000.0, watch.ticks, watch.over_100ms);
    std::fclose(out);
  }
}

}  // namespace platform
