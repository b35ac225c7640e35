// A tunnelling proxy on 127.0.0.1 as https_proxy names one: it answers a
// CONNECT with "200 Connection established" (and a header of its own, as
// real proxies add), then copies bytes both ways between the client and the
// named host until either side closes. One thread per tunnel.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class ConnectProxy {
 public:
  ConnectProxy() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 16);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~ConnectProxy() {
    stop_ = true;
    acceptor_.join();
    for (auto& tunnel : tunnels_) tunnel.join();
    ::close(listener_);
  }
  ConnectProxy(const ConnectProxy&) = delete;
  ConnectProxy& operator=(const ConnectProxy&) = delete;

  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // The CONNECT request lines seen so far ("CONNECT host:port HTTP/1.1").
  std::vector<std::string> Connects() const {
    std::lock_guard<std::mutex> hold(lock_);
    return connects_;
  }

 private:
  static sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
  }

  void Accept() {
    while (!stop_) {
      pollfd fd{listener_, POLLIN, 0};
      if (::poll(&fd, 1, 20) <= 0) continue;
      int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      tunnels_.emplace_back([this, client] { Tunnel(client); });
    }
  }

  void Tunnel(int client) {
    std::string head;
    char buffer[16384];
    while (head.find("\r\n\r\n") == std::string::npos) {
      ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
      if (got <= 0) {
        ::close(client);
        return;
      }
      head.append(buffer, static_cast<size_t>(got));
    }
    std::string line = head.substr(0, head.find("\r\n"));
    {
      std::lock_guard<std::mutex> hold(lock_);
      connects_.push_back(line);
    }
    // Only tunnels to loopback ports: "CONNECT 127.0.0.1:PORT HTTP/1.1".
    size_t colon = line.find(':');
    int server = -1;
    if (line.rfind("CONNECT 127.0.0.1:", 0) == 0 && colon != std::string::npos) {
      server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in target = Loopback(std::atoi(line.c_str() + colon + 1));
      if (::connect(server, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        ::close(server);
        server = -1;
      }
    }
    if (server < 0) {
      SendAll(client, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
      ::close(client);
      return;
    }
    SendAll(client, "HTTP/1.1 200 Connection established\r\nProxy-Agent: test-proxy\r\n\r\n");
    // Anything the client sent after the CONNECT head belongs to the server.
    std::string early = head.substr(head.find("\r\n\r\n") + 4);
    if (!early.empty()) SendAll(server, early);
    pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    bool open = true;
    while (open && !stop_) {
      if (::poll(fds, 2, 20) <= 0) continue;
      for (int i = 0; i < 2 && open; ++i) {
        if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        ssize_t got = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
        if (got <= 0 || !SendAll(fds[1 - i].fd, std::string(buffer, static_cast<size_t>(got)))) {
          open = false;
        }
      }
    }
    ::close(server);
    ::close(client);
  }

  static bool SendAll(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
      ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    return true;
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::vector<std::thread> tunnels_;  // touched by the acceptor thread, then joined
  mutable std::mutex lock_;
  std::vector<std::string> connects_;
};

}  // namespace testing_support
