// Endpoints of a loopback server that answer at once but send their body
// one byte at a time, for the tests of slow servers and of cancelling a
// transfer while a read waits.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace testing_support {

// A body of length 'x' bytes with Content-Length, one byte per interval.
// Ends early once the client has gone. started (may be null) counts the
// requests as they arrive; the server's log sees them only when done.
inline void ServeDrip(httplib::Server& server, const std::string& path, size_t length,
                      std::chrono::milliseconds interval, std::atomic<int>* started = nullptr) {
  server.Get(path, [=](const httplib::Request&, httplib::Response& res) {
    if (started != nullptr) ++*started;
    res.set_content_provider(length, "text/plain",
                             [interval](size_t, size_t, httplib::DataSink& sink) {
                               std::this_thread::sleep_for(interval);
                               return sink.write("x", 1);
                             });
  });
}

}  // namespace testing_support
