#include "books/sync_thread.h"

#include <chrono>

#include "books/book_collection.h"
#include "books/catalogue_sync.h"

namespace {
constexpr uint32_t kPollMs = 500;
}  // namespace

SyncThread::SyncThread(BookCollection& collection)
    : collection_(collection), thread_([this] { Run(); }) {}

SyncThread::~SyncThread() {
  Stop();
}

void SyncThread::Stop() {
  if (!thread_.joinable()) return;
  stop_second_.Set();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  stop_.Set();
  thread_.join();
}

void SyncThread::Run() {
  while (!stop_.Wait(kPollMs)) {
    if (collection_.User().uid.empty()) continue;
    if (!collection_.sync_requested.load() || collection_.sync_running.load()) continue;
    collection_.sync_running = true;
    collection_.sync_requested = false;
    // The second event is set first: the pass ends at its next request
    // while Stop waits.
    SyncCatalogue(collection_, &stop_second_);
    collection_.sync_requested = false;
    collection_.sync_running = false;
  }
}
