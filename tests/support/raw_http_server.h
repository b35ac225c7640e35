// A minimal HTTP/1.1 server on 127.0.0.1 for the cases a full server hides:
// it keeps each request exactly as it arrived (raw multipart bodies) and
// sends an answer written byte for byte by the test (cut-off bodies, answers
// without Content-Length). One request per connection.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class RawHttpServer {
 public:
  struct Request {
    std::string head;  // request line and headers, up to the blank line
    std::string body;  // Content-Length bytes
  };
  // The whole answer for a request, status line included.
  using Responder = std::function<std::string(const Request&)>;

  explicit RawHttpServer(Responder responder) : responder_(std::move(responder)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 16);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~RawHttpServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }

  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  int port() const { return port_; }
  std::vector<Request> Requests() const {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd fd{listener_, POLLIN, 0};
      if (::poll(&fd, 1, 20) <= 0) continue;
      int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      Handle(connection);
      ::close(connection);
    }
  }

  void Handle(int connection) {
    std::string data;
    char buffer[65536];
    size_t head_end = std::string::npos;
    size_t body_length = 0;
    while (true) {
      if (head_end == std::string::npos) {
        head_end = data.find("\r\n\r\n");
        if (head_end != std::string::npos) body_length = ContentLength(data.substr(0, head_end));
      }
      if (head_end != std::string::npos && data.size() >= head_end + 4 + body_length) break;
      ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
      if (got <= 0) return;
      data.append(buffer, static_cast<size_t>(got));
    }
    Request request{data.substr(0, head_end), data.substr(head_end + 4, body_length)};
    {
      std::lock_guard<std::mutex> hold(lock_);
      requests_.push_back(request);
    }
    std::string answer = responder_(request);
    size_t sent = 0;
    while (sent < answer.size()) {
      ssize_t n = ::send(connection, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
  }

  static size_t ContentLength(const std::string& head) {
    std::string lower = head;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos) return 0;
    return std::strtoul(head.c_str() + at + 17, nullptr, 10);
  }

  Responder responder_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex lock_;
  std::vector<Request> requests_;
};

// An answer with a body and its Content-Length.
inline std::string Answer(const std::string& status_line, const std::string& headers,
                          const std::string& body) {
  return status_line + "\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace testing_support
