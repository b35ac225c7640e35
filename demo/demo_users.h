// The people who can sign in to the demo service, and which books each of
// them has. Anyone else (scripts and tests pass uids of their own) gets the
// shared catalogue.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct DemoUser {
  std::string user_name;
  std::string password;
  std::string uid;
  std::string display_name_utf8;
  std::string role_utf8;          // what the index says they are
  std::vector<std::string> gids;  // their catalogue, in order
};

const std::vector<DemoUser>& DemoUsers();

// The user with that user name and password; nullptr when either is wrong.
const DemoUser* FindDemoUser(std::string_view user_name, std::string_view password);

// The generated books a uid's catalogue lists: a demo user's own, else the
// shared three.
const std::vector<std::string>& CatalogueGidsOf(std::string_view uid);
