// Process-wide settings of every transfer that tests replace, so that they
// run in seconds and against certificates of their own. The program never
// calls the setters; without them the defaults of transfer_limits.h and the
// system's trusted certificates apply.
#pragma once

#include <cstdint>
#include <string>

struct LowSpeedLimit {
  uint32_t bytes_per_second;
  uint32_t seconds;
};

LowSpeedLimit CurrentLowSpeedLimit();
// A PEM file whose certificates replace the system's trusted issuers, or
// empty for the system's.
std::string TrustedCaFileOverride();

namespace net_testing {

void SetLowSpeedLimit(LowSpeedLimit limit);
void SetTrustedCaFile(const std::string& pem_path);
// Back to the defaults.
void ResetTransferSeams();

}  // namespace net_testing
