#include "demo/demo_login.h"

#include <cJSON.h>

#include <cctype>
#include <memory>

#include "demo/demo_users.h"
#include "util/identifiers.h"

namespace {

const char* U8(const char8_t* text) {
  return reinterpret_cast<const char*>(text);
}

using JsonPtr = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

JsonPtr NewObject() {
  return JsonPtr(cJSON_CreateObject(), cJSON_Delete);
}

LoginAnswer Answer(int status, const JsonPtr& json) {
  char* text = cJSON_PrintUnformatted(json.get());
  LoginAnswer answer{status, text != nullptr ? text : ""};
  cJSON_free(text);
  return answer;
}

LoginAnswer Refusal(int status, const char* code, const char* message_utf8) {
  JsonPtr json = NewObject();
  cJSON_AddStringToObject(json.get(), "Return", code);
  cJSON_AddStringToObject(json.get(), "Message", message_utf8);
  return Answer(status, json);
}

// 32 lowercase hexadecimal digits, new for every sign-in.
std::string NewSessionId() {
  std::string id;
  while (id.empty()) id = NewIdentifierText();
  for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return id;
}

}  // namespace

LoginAnswer AnswerLogin(std::string_view form_body) {
  const char* const kMissing = U8(u8"缺少用户名或密码");
  std::map<std::string, std::string> fields;
  if (!DecodeFormBody(form_body, fields)) return Refusal(400, "1002000", kMissing);
  const std::string& user_name = fields["username"];
  const std::string& mixed = fields["password"];
  if (user_name.empty() || mixed.empty()) return Refusal(400, "1002000", kMissing);
  std::string password;
  const DemoUser* user =
      UnmixPassword(mixed, password) ? FindDemoUser(user_name, password) : nullptr;
  if (user == nullptr) return Refusal(401, "1002001", U8(u8"用户名或密码错误"));

  JsonPtr json = NewObject();
  cJSON* j = json.get();
  cJSON_AddStringToObject(j, "Return", "0");
  cJSON_AddStringToObject(j, "Message", "");
  cJSON_AddStringToObject(j, "UID", user->uid.c_str());
  cJSON_AddStringToObject(j, "SessionID", NewSessionId().c_str());
  cJSON_AddStringToObject(j, "UserName", user->user_name.c_str());
  cJSON_AddStringToObject(j, "DisplayName", user->display_name_utf8.c_str());
  return Answer(200, json);
}
