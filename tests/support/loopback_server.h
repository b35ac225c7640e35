// An HTTP server on 127.0.0.1 inside the test process, on a port of its own,
// that records what it was asked.
#pragma once

#include <httplib.h>

#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class LoopbackServer {
 public:
  struct Request {
    std::string method;
    std::string path;
    std::string query_time;  // the "?..." part, when any
    httplib::Headers headers;
    std::string body;
  };

  LoopbackServer() {
    // A routed request is counted before its answer goes out, so a test that
    // has its answer always finds it counted; the logger, which runs after
    // the answer was sent, counts only the ones no handler took.
    server_.set_post_routing_handler([this](const httplib::Request& req, httplib::Response&) {
      Record(req);
      std::lock_guard<std::mutex> hold(lock_);
      counted_early_.insert(&req);
    });
    server_.set_logger([this](const httplib::Request& req, const httplib::Response&) {
      {
        std::lock_guard<std::mutex> hold(lock_);
        if (counted_early_.erase(&req)) return;
      }
      Record(req);
    });
  }
  ~LoopbackServer() { Stop(); }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  httplib::Server& server() { return server_; }

  // Binds and serves. Returns once the accept loop runs, because a stop
  // that comes before it would be lost and the loop would never end.
  void Start() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  void Stop() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }

  int port() const { return port_; }
  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string Url(const std::string& path) const { return "http://" + Host() + path; }

  std::vector<Request> Requests() const {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
  }
  size_t CountPath(const std::string& path) const {
    std::lock_guard<std::mutex> hold(lock_);
    size_t count = 0;
    for (const auto& r : requests_) count += r.path == path ? 1 : 0;
    return count;
  }

 private:
  void Record(const httplib::Request& req) {
    Request seen{req.method, req.path, {}, req.headers, req.body};
    for (const auto& [name, value] : req.params) seen.query_time += name + "=" + value + ";";
    std::lock_guard<std::mutex> hold(lock_);
    requests_.push_back(std::move(seen));
  }

  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex lock_;
  std::vector<Request> requests_;
  std::set<const httplib::Request*> counted_early_;
};

// A port on 127.0.0.1 where nothing listens.
inline constexpr int kClosedPort = 1;

}  // namespace testing_support
