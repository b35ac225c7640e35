#include "util/gbk_json.h"

#include <cstdlib>
#include <cstring>

#include "platform/codepage.h"

namespace {

char* CopyForJson(const std::string& text) {
  char* copy = static_cast<char*>(cJSON_malloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// Rewrites every member name and string value of the tree in place.
template <typename Convert>
void ConvertStrings(cJSON* item, Convert convert) {
  for (; item != nullptr; item = item->next) {
    if (item->string != nullptr && (item->type & cJSON_StringIsConst) == 0) {
      char* name = CopyForJson(convert(item->string));
      if (name != nullptr) {
        cJSON_free(item->string);
        item->string = name;
      }
    }
    if (cJSON_IsString(item) && item->valuestring != nullptr) {
      char* value = CopyForJson(convert(item->valuestring));
      if (value != nullptr) {
        cJSON_free(item->valuestring);
        item->valuestring = value;
      }
    }
    ConvertStrings(item->child, convert);
  }
}

}  // namespace

JsonPtr ParseGbkJson(std::string_view gbk, std::string* rest) {
  std::string utf8 = platform::GbkToUtf8(gbk);
  const char* end = nullptr;
  JsonPtr tree(cJSON_ParseWithOpts(utf8.c_str(), &end, false));
  if (!tree) {
    if (rest != nullptr) {
      rest->clear();
      if (end != nullptr && end >= utf8.c_str() && end <= utf8.c_str() + utf8.size()) {
        *rest = platform::Utf8ToGbk(std::string_view(end, utf8.c_str() + utf8.size() - end));
      }
    }
    return nullptr;
  }
  ConvertStrings(tree.get(), [](const char* text) { return platform::Utf8ToGbk(text); });
  return tree;
}

std::string PrintGbkJson(const cJSON* item, bool formatted) {
  if (item == nullptr) return std::string();
  JsonPtr copy(cJSON_Duplicate(item, true));
  if (!copy) return std::string();
  // The copy's own name (if it is a member) is not printed; its children are.
  ConvertStrings(copy->child, [](const char* text) { return platform::GbkToUtf8(text); });
  if (cJSON_IsString(copy.get()) && copy->valuestring != nullptr) {
    char* value = CopyForJson(platform::GbkToUtf8(copy->valuestring));
    if (value != nullptr) {
      cJSON_free(copy->valuestring);
      copy->valuestring = value;
    }
  }
  return platform::Utf8ToGbk(PrintJson(copy.get(), formatted));
}
