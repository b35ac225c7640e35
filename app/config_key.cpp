#include "app/config_key.h"

#include <array>
#include <atomic>

namespace {

std::array<uint8_t, kConfigKeyLength> key_bytes;
std::atomic<bool> key_built{false};

}  // namespace

void BuildConfigKey() {
  // The pass phrase repeated until 512 bytes are filled, then scrambled with
  // a running value so that the key does not show the phrase.
  for (size_t i = 0; i < kConfigKeyLength; ++i) {
    key_bytes[i] = static_cast<uint8_t>(kPassPhrase[i % kPassPhrase.size()]);
  }
  uint32_t w = 47;
  for (size_t i = 0; i < kConfigKeyLength; ++i) {
    key_bytes[i] ^= static_cast<uint8_t>(w >> 8);
    w = (w + key_bytes[i]) * 29u + 137u;
  }
  key_built.store(true, std::memory_order_release);
}

void FreeConfigKey() {
  key_built.store(false, std::memory_order_release);
  key_bytes.fill(0);
}

KeyView ConfigKey() {
  if (!key_built.load(std::memory_order_acquire)) return {};
  return {key_bytes.data(), key_bytes.size()};
}
