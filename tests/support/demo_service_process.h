// The demo service as a process of its own, on a free port, for one test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/process.h"
#include "tests/support/sandbox.h"

namespace testing_support {

class DemoServiceProcess {
 public:
  // Starts the service with extra options; files go to directory.
  bool Start(const std::string& directory, std::vector<std::string> options = {}) {
    port_file_ = directory + "/demo-port";
    std::remove(port_file_.c_str());
    access_log_ = directory + "/demo-access.log";
    options.insert(options.end(), {"--port", "0", "--port-file", port_file_, "--stop-after", "600",
                                   "--access-log", access_log_});
    process_ = platform::StartProcess(TOMERACK_DEMO_SERVICE_PATH, options, directory);
    if (!process_.valid()) return false;
    bool ready = WaitFor([&] { return !ReadBytes(port_file_).empty() || !process_.IsRunning(); },
                         std::chrono::seconds(60));
    std::string text = ReadBytes(port_file_);
    if (!ready || text.empty()) return false;
    port_ = std::stoi(text);
    return true;
  }
  ~DemoServiceProcess() {
    if (process_.valid()) {
      process_.Terminate();
      process_.Wait(-1);
    }
  }

  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  int port() const { return port_; }
  std::string AccessLog() const { return ReadBytes(access_log_); }

 private:
  platform::ProcessHandle process_;
  std::string port_file_;
  std::string access_log_;
  int port_ = 0;
};

// The Config.EF entries that point a program directory at the service, as
// an administrator (or scripts/run) sets them.
inline std::vector<std::pair<std::string, std::string>> DemoConfigEntries(
    const DemoServiceProcess& service) {
  std::string server = service.Url("").substr(7);
  return {
      {"serverlist",
       "app#demo#1#1#" + server + ";dat#demo#1#1#" + server + ";cor#demo#1#1#" + server},
      {"wwwhome_app", "http://$SERVER$/"},
      {"wwwhome_data", "http://$SERVER_DATA$/data"},
      {"url_getTomeRack", "http://$SERVER$/api/tomerack"},
      {"_CONFIG_EF_token", "demo-token"},
  };
}

}  // namespace testing_support
