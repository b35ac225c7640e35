#include "config/parameter_store.h"

#include <gtest/gtest.h>

#include <map>

#include "config/program_paths.h"
#include "platform/ini_file.h"
#include "tests/support/program_dir.h"

namespace {

using ParameterStoreTest = testing_support::ProgramDirSandbox;

constexpr const char kServers[] =
    "app#a1#x#2#app-one:8080;app#a2#x#0#app-zero;dat#d#x#1#data.host;cor#c";

TEST_F(ParameterStoreTest, NamesIgnoreCaseAndOnlyAddressNamesAreCompleted) {
  SetParameter("serverlist", kServers);
  SetParameter("WwwHome", "http://$SERVER$/ui/");
  SetParameter("myPage", "http://$SERVER$/page");
  EXPECT_EQ(GetParameter("WWWHOME"), "http://$SERVER$/ui/");  // not the exact name
  EXPECT_EQ(GetParameter("wwwhome"), "http://app-one:8080/ui/");
  EXPECT_EQ(GetParameter("MYPAGE"), "http://$SERVER$/page");
  EXPECT_EQ(GetParameter("absent"), "");
}

TEST_F(ParameterStoreTest, PlaceholdersTakeTheirKindAndStayWithoutOne) {
  SetParameter("serverlist", kServers);
  SetParameter("wwwhome_data", "$SERVER$|$SERVER_DATA$|$SERVER_CORE$|$SERVER$");
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(GetParameter("wwwhome_data"), "app-one:8080|data.host|$SERVER_CORE$|app-one:8080");
  }
  SetParameter("UpgradeURL", "http://$SERVER_DATA$/up");
  EXPECT_EQ(GetParameter("UpgradeURL"), "http://data.host/up");

  // One draw fills every occurrence of a placeholder.
  SetParameter("serverlist", "app#a#x#1#one;app#b#x#1#two");
  SetParameter("wwwhome", "$SERVER$ $SERVER$");
  std::string both = GetParameter("wwwhome");
  size_t blank = both.find(' ');
  ASSERT_NE(blank, std::string::npos);
  EXPECT_EQ(both.substr(0, blank), both.substr(blank + 1));
}

TEST_F(ParameterStoreTest, SelectServerHonoursWeights) {
  std::string server;
  EXPECT_FALSE(SelectServer("app", server));  // no list
  SetParameter("serverlist", "app#1#2#0#zero;app#1#2#-4#negative;app#1#2#x#text;dat#1#2#3");
  EXPECT_FALSE(SelectServer("app", server));
  EXPECT_FALSE(SelectServer("dat", server));  // four fields only
  EXPECT_FALSE(SelectServer("APP", server));  // kinds are case-sensitive
  // A huge weight is drawn without building a list of copies.
  SetParameter("serverlist", "app###2000000000#big;;app###0#never");
  ASSERT_TRUE(SelectServer("app", server));
  EXPECT_EQ(server, "big");
}

TEST(ChooseServer, EachServerHoldsAsManyDrawsAsItsWeight) {
  const std::string list = "app#1#2#1#a;dat#1#2#5#d;app#1#2#3#b;app#1#2#0#z";
  std::map<std::string, int> counts;
  for (uint32_t r = 0; r < 400; ++r) {
    std::string server;
    ASSERT_TRUE(ChooseServer(list, "app", r, server));
    ++counts[server];
  }
  EXPECT_EQ(counts, (std::map<std::string, int>{{"a", 100}, {"b", 300}}));
  std::string server;
  ASSERT_TRUE(ChooseServer(list, "app", 0, server));
  EXPECT_EQ(server, "a");
  ASSERT_TRUE(ChooseServer(list, "app", 1, server));
  EXPECT_EQ(server, "b");
}

TEST_F(ParameterStoreTest, IniNamesLiveInTheInstanceIniFile) {
  SetParameter("_INI_Volume", "7");
  EXPECT_EQ(ParameterStore::Instance().Get("_INI_VOLUME"), "");
  EXPECT_EQ(platform::GetPrivateProfileString("_GlobalPara_", "volume", "", GetInstanceIniPath()),
            "7");
  EXPECT_EQ(GetParameter("_ini_VOLUME"), "7");
  // With nothing in the INI file the map is asked under the full name.
  ParameterStore::Instance().Set("_INI_FALLBACK", "from map");
  EXPECT_EQ(GetParameter("_INI_fallback"), "from map");
}

TEST_F(ParameterStoreTest, CopyAllParametersHasUpperCaseNames) {
  SetParameter("alpha", "1");
  SetParameter("Beta", "2");
  ParameterMap copy;
  CopyAllParameters(copy);
  EXPECT_EQ(copy, (ParameterMap{{"ALPHA", "1"}, {"BETA", "2"}}));
}

TEST_F(ParameterStoreTest, ReplaceUrlHost) {
  std::string url = "http://old/x";
  EXPECT_FALSE(ReplaceUrlHost(url));
  EXPECT_EQ(url, "http://old/x");

  SetParameter("serverlist", "dat#a#b#1#new.host:81");
  const struct {
    const char* in;
    const char* out;
  } kCases[] = {
      {"http://old.host/books/a%20b.zip", "http://new.host:81/books/a%20b.zip"},
      {"http://old.host", "http://new.host:81"},
      {"file:///c/x/y", "file:///new.host:81/x/y"},
      {"old.host/path/file", "new.host:81/path/file"},
      {"/rooted/path", "new.host:81"},
      {"nothing", "new.host:81"},
  };
  for (const auto& c : kCases) {
    std::string u = c.in;
    ASSERT_TRUE(ReplaceUrlHost(u));
    EXPECT_EQ(u, c.out) << c.in;
  }
}

}  // namespace
