// The process-wide key of the sealed files. It is derived from the pass
// phrase at start-up, kept only in memory, and freed at exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

inline constexpr std::string_view kPassPhrase =
    "qmr: Green fields, quiet rivers and a long roadway! ";
inline constexpr size_t kConfigKeyLength = 512;

struct KeyView {
  const uint8_t* data = nullptr;
  size_t length = 0;
};

// Builds the key (again, if it exists). Thread-safe against readers only
// after it returns; call it during start-up, before other threads run.
void BuildConfigKey();
void FreeConfigKey();

// The key, or an empty view when it has not been built.
KeyView ConfigKey();
