#include "net/transfer_seams.h"

#include <mutex>

#include "net/transfer_limits.h"

namespace {

struct Seams {
  std::mutex lock;
  LowSpeedLimit low_speed{kLowSpeedBytesPerSecond, kLowSpeedSeconds};
  std::string ca_file;
};

Seams& TheSeams() {
  static Seams seams;
  return seams;
}

}  // namespace

LowSpeedLimit CurrentLowSpeedLimit() {
  Seams& seams = TheSeams();
  std::lock_guard<std::mutex> hold(seams.lock);
  return seams.low_speed;
}

std::string TrustedCaFileOverride() {
  Seams& seams = TheSeams();
  std::lock_guard<std::mutex> hold(seams.lock);
  return seams.ca_file;
}

namespace net_testing {

void SetLowSpeedLimit(LowSpeedLimit limit) {
  Seams& seams = TheSeams();
  std::lock_guard<std::mutex> hold(seams.lock);
  seams.low_speed = limit;
}

void SetTrustedCaFile(const std::string& pem_path) {
  Seams& seams = TheSeams();
  std::lock_guard<std::mutex> hold(seams.lock);
  seams.ca_file = pem_path;
}

void ResetTransferSeams() {
  SetLowSpeedLimit({kLowSpeedBytesPerSecond, kLowSpeedSeconds});
  SetTrustedCaFile({});
}

}  // namespace net_testing
