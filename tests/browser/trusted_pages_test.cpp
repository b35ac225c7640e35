#include "browser/trusted_pages.h"

#include <gtest/gtest.h>

#include "config/parameter_store.h"
#include "tests/browser/browser_fixture.h"

namespace {

TEST(TrustedPages, OnlyProgramFilesStartPageAndServiceHosts) {
  TrustedPages pages;
  pages.Configure("/opt/数字教材", "http://portal.example:8080/start",
                  {"books.example:81", "http://Data.Example/x"});
  struct Case {
    const char* url;
    bool trusted;
  };
  const Case cases[] = {
      {"file:///opt/%E6%95%B0%E5%AD%97%E6%95%99%E6%9D%90/DTM/Index.html", true},
      {"file:///opt/%E6%95%B0%E5%AD%97%E6%95%99%E6%9D%90/../etc/x.html", false},
      {"file:///opt/%E6%95%B0%E5%AD%97%E6%95%99%E6%9D%90%2F..%2Fx.html", false},
      {"file:///opt/%E6%95%B0%E5%AD%97%E6%95%99%E6%9D%90x/a.html", false},
      {"file:///tmp/page.html", false},
      {"file://otherhost/opt/%E6%95%B0%E5%AD%97%E6%95%99%E6%9D%90/a.html", false},
      {"http://portal.example/other", true},
      {"https://books.example/a", true},
      {"http://data.example:9999/", true},
      {"http://user@books.example/", true},
      {"http://books.example.evil.net/", false},
      {"http://evil.net/?books.example", false},
      {"data:text/html,hi", false},
      {"about:blank", false},
      {"javascript:alert(1)", false},
  };
  for (const auto& c : cases) EXPECT_EQ(pages.IsTrusted(c.url), c.trusted) << c.url;
}

TEST(TrustedPages, PatternsCoverTheTrustedSet) {
  TrustedPages pages;
  pages.Configure("/opt/a b", "/srv/start.html", {"host.example"});
  EXPECT_EQ(pages.Patterns(),
            (std::vector<std::string>{"file:///opt/a%20b/*", "file:///srv/start.html",
                                      "http://host.example/*", "https://host.example/*"}));
  EXPECT_TRUE(pages.IsTrusted("file:///srv/start.html"));
  EXPECT_FALSE(pages.IsTrusted("file:///srv/other.html"));
}

class CurrentTrust : public testing_support::BrowserFixture {};

TEST_F(CurrentTrust, ComesFromParametersServerListAndIni) {
  SetParameter("wwwhome", "http://www.service.example/home");
  SetParameter("url_getTomeRack", "http://$SERVER$/api");
  SetParameter("serverlist", "app#a#b#10#app1.example:8080;dat#a#b#5#dat1.example;short#x");
  WriteInstanceIni("[system]\ntrusted_hosts=extra.example; more.example\n");
  TrustedPages pages = CurrentTrustedPages();
  for (const char* url :
       {"http://www.service.example/", "http://app1.example:8080/", "https://dat1.example/",
        "http://extra.example/", "http://more.example/"}) {
    EXPECT_TRUE(pages.IsTrusted(url)) << url;
  }
  EXPECT_FALSE(pages.IsTrusted("http://short/"));
  EXPECT_FALSE(pages.IsTrusted("http://elsewhere.example/"));
  EXPECT_TRUE(pages.IsTrusted(FileUrlFromPath(dir() + "/DTM/Index.html")));
}

}  // namespace
