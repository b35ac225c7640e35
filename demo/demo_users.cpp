#include "demo/demo_users.h"

namespace {

const char* U8(const char8_t* text) {
  return reinterpret_cast<const char*>(text);
}

}  // namespace

const std::vector<DemoUser>& DemoUsers() {
  static const std::vector<DemoUser> users = {
      {"xiaoming",
       "xm2026",
       "u2001",
       U8(u8"小明"),
       U8(u8"学生"),
       {"g1001", "g1002", "g1003", "g1004", "g1005", "g1006", "g1007"}},
      {"laoshi", "ls2026", "u3001", U8(u8"王老师"), U8(u8"教师"), {"g2001", "g2002", "g2003"}},
  };
  return users;
}

const DemoUser* FindDemoUser(std::string_view user_name, std::string_view password) {
  for (const DemoUser& user : DemoUsers()) {
    if (user.user_name == user_name && user.password == password) return &user;
  }
  return nullptr;
}

const std::vector<std::string>& CatalogueGidsOf(std::string_view uid) {
  static const std::vector<std::string> shared = {"g1001", "g1002", "g1003"};
  for (const DemoUser& user : DemoUsers()) {
    if (user.uid == uid) return user.gids;
  }
  return shared;
}
