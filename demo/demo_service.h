// The demo textbook service: what the client's service endpoints answer,
// served from generated books on 127.0.0.1, with faults to inject.
#pragma once

#include <cstdint>
#include <string>

struct DemoOptions {
  int port = 0;           // 0: any free port
  std::string port_file;  // the port chosen is written here
  int stop_after_seconds = 3600;
  std::string token = "demo-token";  // expected "Authorization" of the catalogue
  std::string version = "1.0.0";     // the published client version
  std::string access_log;            // one line per request, when set
  std::string upgrade_key;           // private key file that signs the upgrade
  std::string upgrade_public_key;    // the public key text is written here
  // Faults.
  int64_t drop_after = -1;     // package transfers end after this many bytes
  int slow_ms = 0;             // delay before each answer and each package piece
  bool ignore_ranges = false;  // packages always whole, 200
  bool wrong_digest = false;   // digests of other data
  int status = 0;              // every request answers this status
  int big_file_mib = 0;        // serve /data/big.bin of this size (benchmarks)
  int rate_mib = 0;            // MiB/s each package transfer is held to; 0: no limit
  std::string extra_package;   // a ZIP file published as one more book, g1900
};

// Parses the command line; false with a message in error on bad usage.
bool ParseDemoOptions(int argc, char** argv, DemoOptions& options, std::string& error);

extern const char kDemoUsage[];

// Runs the service until the stop time; returns the process exit status.
int RunDemoService(const DemoOptions& options);
