// A loopback web server for window tests: it serves pages set by the test
// under /page/NAME and hears what pages tell it by loading /r?key=value (a
// page without window.external has no other way out). Mixed into fixtures.
#pragma once

#include <glib.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "tests/support/sandbox.h"

namespace testing_support {

class PageServer {
 protected:
  void StartPageServer() {
    server_.Get("/r", [this](const httplib::Request& request, httplib::Response& response) {
      std::lock_guard<std::mutex> guard(lock_);
      for (const auto& [key, value] : request.params) heard_[key] = value;
      response.set_content("", "image/gif");
    });
    server_.Get(R"(/page/(.+))",
                [this](const httplib::Request& request, httplib::Response& response) {
                  std::lock_guard<std::mutex> guard(lock_);
                  response.set_content(pages_[request.matches[1]], "text/html");
                });
    port_ = server_.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port_, 0);
    serving_ = std::thread([this] { server_.listen_after_bind(); });
  }
  void StopPageServer() {
    server_.stop();
    if (serving_.joinable()) serving_.join();
  }

  // Another host name reaches the same server as another origin.
  std::string Origin(const char* host = "127.0.0.1") const {
    return std::string("http://") + host + ":" + std::to_string(port_);
  }
  void ServePage(const std::string& name, const std::string& html) {
    std::lock_guard<std::mutex> guard(lock_);
    pages_[name] = html;
  }
  // A script line that sends key=expression to the server.
  std::string Tell(const std::string& key, const std::string& expression) const {
    return "new Image().src = '" + Origin() + "/r?" + key + "=' + encodeURIComponent(" +
           expression + ");";
  }
  // As Tell, but sent before the script goes on, so that it arrives even
  // when the document is leaving (an image load would be cancelled with it).
  std::string TellNow(const std::string& key, const std::string& expression) const {
    return "try { var tell = new XMLHttpRequest(); tell.open('GET', '" + Origin() + "/r?" + key +
           "=' + encodeURIComponent(" + expression + "), false); tell.send(); } catch (e) {}";
  }
  std::string Heard(const std::string& key) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = heard_.find(key);
    return it == heard_.end() ? std::string() : it->second;
  }
  // Turns the GLib loop until done, for at most a minute.
  static bool Turn(const std::function<bool()>& done) {
    return WaitFor(
        [&] {
          while (g_main_context_iteration(nullptr, FALSE)) {
          }
          return done();
        },
        std::chrono::seconds(60));
  }
  bool WaitToHear(const std::string& key) {
    return Turn([&] { return !Heard(key).empty(); });
  }

  httplib::Server server_;
  int port_ = 0;

 private:
  std::thread serving_;
  std::mutex lock_;
  std::map<std::string, std::string> heard_;
  std::map<std::string, std::string> pages_;
};

}  // namespace testing_support
