#include "browser/call_text.h"

#include "util/json_escape.h"

namespace {

constexpr const char kTrimmed[] = ") '";

}  // namespace

PageCall ParseCallText(const std::string& text) {
  PageCall call;
  size_t open = text.find('(');
  if (text.empty() || open == std::string::npos || open == 0) {
    call.name = text;
    return call;
  }
  call.name = text.substr(0, open);
  std::string argument = text.substr(open + 1);
  size_t end = argument.find_last_not_of(kTrimmed);
  argument.erase(end == std::string::npos ? 0 : end + 1);
  size_t start = argument.find_first_not_of(kTrimmed);
  argument.erase(0, start == std::string::npos ? argument.size() : start);
  JsonUnescapeString(argument);
  call.arguments.push_back(std::move(argument));
  return call;
}
