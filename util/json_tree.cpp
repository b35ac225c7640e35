#include "util/json_tree.h"

#include <cstdlib>

JsonPtr ParseJson(std::string_view text) {
  std::string copy(text);
  const char* end = nullptr;
  return JsonPtr(cJSON_ParseWithOpts(copy.c_str(), &end, 0));
}

const char* JsonStringMember(const cJSON* object, const char* name) {
  const cJSON* member = cJSON_GetObjectItem(object, name);
  return cJSON_IsString(member) ? member->valuestring : nullptr;
}

std::string PrintJson(const cJSON* item, bool formatted) {
  char* text = formatted ? cJSON_Print(item) : cJSON_PrintUnformatted(item);
  if (!text) return {};
  std::string result = text;
  cJSON_free(text);
  return result;
}
