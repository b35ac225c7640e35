// Ownership and small look-ups for cJSON trees.
#pragma once

#include <cJSON.h>

#include <memory>
#include <string>
#include <string_view>

struct JsonDeleter {
  void operator()(cJSON* item) const { cJSON_Delete(item); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

// Parses text; null when it is not JSON. Uses the per-call end pointer, not
// cJSON's process-wide error pointer, so that threads do not disturb each
// other.
JsonPtr ParseJson(std::string_view text);

// The string value of a member (name compared without case), or null when
// the member is missing or not a string.
const char* JsonStringMember(const cJSON* object, const char* name);

// Prints formatted (tabs, as cJSON_Print does) or compact.
std::string PrintJson(const cJSON* item, bool formatted = true);
