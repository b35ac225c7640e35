// An https server on 127.0.0.1 inside the test process, with the
// certificate and key files the test made.
#pragma once

#include <httplib.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/support/test_certificates.h"

namespace testing_support {

class TlsLoopbackServer {
 public:
  explicit TlsLoopbackServer(const CertificateFiles& files)
      : server_(files.cert.c_str(), files.key.c_str()) {}
  ~TlsLoopbackServer() { Stop(); }
  TlsLoopbackServer(const TlsLoopbackServer&) = delete;
  TlsLoopbackServer& operator=(const TlsLoopbackServer&) = delete;

  httplib::SSLServer& server() { return server_; }
  bool valid() const { return server_.is_valid(); }

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
  // host may name 127.0.0.1 differently ("localhost") to test name checks.
  std::string Url(const std::string& path, const std::string& host = "127.0.0.1") const {
    return "https://" + host + ":" + std::to_string(port_) + path;
  }

 private:
  httplib::SSLServer server_;
  int port_ = 0;
  std::thread thread_;
};

}  // namespace testing_support
