// The background refresh of the server list ("serverlist").
//
// A probe fetches the list from the first list URL that answers, stores it
// (Config.EF and the parameter store) and, when "url_testServer" is set,
// keeps only the entries whose server answers a test request. At most one
// probe runs at a time; the raw list body is also written to
// system/tmp/grr.dat.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "platform/event.h"

class ServerProber {
 public:
  static constexpr const char kListFile[] = "tmp/grr.dat";

  ServerProber() = default;
  ~ServerProber();
  ServerProber(const ServerProber&) = delete;
  ServerProber& operator=(const ServerProber&) = delete;

  // list_urls: URLs separated by ";". Does nothing while a probe runs.
  void Start(const std::string& list_urls);
  // Asks the probe to end and waits for it; a request in progress finishes
  // first.
  void Stop();

  bool IsRunning() const { return running_.load(); }
  int ThreadCount() const { return thread_count_.load(); }
  bool StopRequested() const { return stop_flag_.load(); }

  // The path of the list file under the system directory.
  static std::string ListFilePath();

 private:
  void Probe(std::string list_urls);

  std::atomic<bool> running_{false};
  std::atomic<bool> stop_flag_{false};
  std::atomic<int> thread_count_{0};
  platform::Event stop_event_;
  std::mutex thread_lock_;  // guards thread_
  std::thread thread_;
};
