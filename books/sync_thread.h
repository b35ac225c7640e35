// The collection's background synchronisation: every 500 ms it looks
// whether a synchronisation was requested for a signed-in user and runs one.
#pragma once

#include <thread>

#include "platform/event.h"

class BookCollection;

class SyncThread {
 public:
  explicit SyncThread(BookCollection& collection);
  // Stops the thread as Stop does.
  ~SyncThread();
  SyncThread(const SyncThread&) = delete;
  SyncThread& operator=(const SyncThread&) = delete;

  // Signals the second event, waits 100 ms, signals the first and joins.
  // A pass under way ends at its next request (the one being answered is
  // waited for).
  void Stop();

 private:
  void Run();

  BookCollection& collection_;
  platform::Event stop_;
  platform::Event stop_second_;
  std::thread thread_;
};
