// The demo service answers what the client's endpoints rely on.
#include <cJSON.h>
#include <gtest/gtest.h>
#include <strings.h>

#include "net/request_helpers.h"
#include "tests/support/demo_service_process.h"
#include "tests/support/run_command.h"
#include "tests/support/sandbox.h"
#include "util/md5.h"

namespace {

using testing_support::DemoServiceProcess;

class DemoServiceTest : public testing_support::Sandbox {};

TEST_F(DemoServiceTest, ServerListAndTestPointAtTheServiceItself) {
  DemoServiceProcess demo;
  ASSERT_TRUE(demo.Start(dir()));
  std::string list, ok;
  bool is_text = false;
  ASSERT_EQ(HttpGetToFile(nullptr, false, &list, &is_text, {}, nullptr, demo.Url("/serverlist")),
            0);
  EXPECT_TRUE(is_text);
  std::string self = demo.Url("").substr(7);
  EXPECT_EQ(list, "app#demo#1#1#" + self + ";dat#demo#1#1#" + self + ";cor#demo#1#1#" + self);
  EXPECT_EQ(HttpGetToFile(nullptr, false, &ok, nullptr, {}, nullptr, demo.Url("/test")), 0);
}

TEST_F(DemoServiceTest, CatalogueNeedsTheTokenAndListsBooksWithMatchingDigests) {
  DemoServiceProcess demo;
  ASSERT_TRUE(demo.Start(dir(), {"--token", "secret-1"}));
  std::string request =
      "{\r\n\"Function\":\"DataAccess\",\"Callback\":\"\",\"UID\":\"u42\","
      "\"SessionID\":\"s1\",\"ID\":\"\",\"Para\":{\r\n\t\"Dataset\":\"DTM\","
      "\"Data\":\"Tomerack_Get\",\"Condition\":[],\"ConditionName\":[]}}";
  const std::string headers = "Content-Type: application/json;charset:utf-8\r\nAuthorization: ";
  std::string reply;
  EXPECT_EQ(HttpRequestText(reply, "POST", demo.Url("/api/tomerack?1"), request.data(),
                            request.size(), headers + "wrong\r\n"),
            1008401);
  ASSERT_EQ(HttpRequestText(reply, "POST", demo.Url("/api/tomerack?1"), request.data(),
                            request.size(), headers + "secret-1\r\n"),
            0);
  EXPECT_NE(reply.find("\"Return\":\"0"), std::string::npos);
  EXPECT_NE(reply.find("数学"), std::string::npos);  // converted to the program's code page

  cJSON* root = cJSON_Parse(reply.c_str());
  ASSERT_NE(root, nullptr);
  EXPECT_STREQ(cJSON_GetObjectItem(root, "UID")->valuestring, "u42");
  cJSON* para = cJSON_GetObjectItem(root, "Para");
  int rows = std::atoi(cJSON_GetObjectItem(para, "Rows")->valuestring);
  int columns = std::atoi(cJSON_GetObjectItem(para, "Columns")->valuestring);
  cJSON* names = cJSON_GetObjectItem(para, "ColumnName");
  cJSON* data = cJSON_GetObjectItem(para, "Data");
  ASSERT_EQ(rows, 3);
  ASSERT_EQ(cJSON_GetArraySize(data), rows * columns);
  auto column = [&](const char* name) {
    for (int i = 0; i < cJSON_GetArraySize(names); ++i) {
      if (strcasecmp(cJSON_GetArrayItem(names, i)->valuestring, name) == 0) return i;
    }
    return -1;
  };
  for (const char* required : {"bsid", "gid", "fullName", "baseImage", "insallPara", "launchPara",
                               "bookMD5", "bookPath", "bookReader"}) {
    EXPECT_GE(column(required), 0) << required;
  }
  bool some_upper = false;
  for (int row = 0; row < rows; ++row) {
    auto cell = [&](const char* name) {
      return std::string(cJSON_GetArrayItem(data, row * columns + column(name))->valuestring);
    };
    std::string book_path = cell("bookPath");
    std::string package_url = demo.Url("/data/" + book_path);
    std::string digest;
    ASSERT_EQ(HttpRequestText(digest, "GET", package_url + ".MD5?timemark=7"), 0);
    EXPECT_EQ(digest, cell("bookMD5"));
    some_upper = some_upper || digest.find_first_of("ABCDEF") != std::string::npos;
    std::string zip = Path("p" + std::to_string(row) + ".zip");
    ASSERT_EQ(HttpDownloadRange(zip, package_url, 0, nullptr, nullptr, nullptr, nullptr), 0);
    MD5Computer md5;
    std::string actual;
    ASSERT_TRUE(md5.FileMD5(actual, zip));
    EXPECT_EQ(strcasecmp(actual.c_str(), digest.c_str()), 0);
    auto listing = testing_support::RunCommand("/usr/bin/unzip", {"-Z", zip});
    if (listing.exit_code == 0) {
      EXPECT_NE(listing.out.find("-rwxr-xr-x"), std::string::npos);  // the reader program
      EXPECT_NE(listing.out.find(" stor "), std::string::npos);
      EXPECT_NE(listing.out.find(" defN "), std::string::npos);
    }
    std::string cover = Path("c" + std::to_string(row) + ".png");
    ASSERT_EQ(HttpRequestToFile("GET", demo.Url("/data/" + cell("baseImage")), cover), 0);
    EXPECT_EQ(ReadFile("c" + std::to_string(row) + ".png").substr(1, 3), "PNG");
  }
  EXPECT_TRUE(some_upper);
  cJSON_Delete(root);
}

TEST_F(DemoServiceTest, FaultsAndUpgradeFiles) {
  DemoServiceProcess demo;
  ASSERT_TRUE(demo.Start(dir(), {"--wrong-digest", "--version", "9.9.9"}));
  std::string version, digest;
  ASSERT_EQ(HttpRequestText(version, "GET", demo.Url("/upgrade/version.dat?5")), 0);
  EXPECT_EQ(version, "9.9.9\r\n");
  ASSERT_EQ(HttpRequestText(digest, "GET", demo.Url("/data/books/g1001/g1001.zip.MD5")), 0);
  ASSERT_EQ(HttpDownloadRange(Path("p.zip"), demo.Url("/data/books/g1001/g1001.zip"), 0, nullptr,
                              nullptr, nullptr, nullptr),
            0);
  MD5Computer md5;
  std::string actual;
  ASSERT_TRUE(md5.FileMD5(actual, Path("p.zip")));
  EXPECT_EQ(digest.size(), 32u);
  EXPECT_NE(strcasecmp(actual.c_str(), digest.c_str()), 0);
  ASSERT_EQ(HttpGetToFile(nullptr, true, nullptr, nullptr, Path("Upgrade.exe"), nullptr,
                          demo.Url("/upgrade/upgrade.exe?5")),
            0);
  EXPECT_EQ(ReadFile("Upgrade.exe").substr(0, 2), "#!");
}

TEST_F(DemoServiceTest, StopsByItselfAndRefusesBadOptions) {
  auto ended =
      testing_support::RunCommand(TOMERACK_DEMO_SERVICE_PATH, {"--port", "0", "--stop-after", "1"});
  EXPECT_EQ(ended.exit_code, 0);
  EXPECT_NE(ended.out.find("listening on http://127.0.0.1:"), std::string::npos);
  auto bad = testing_support::RunCommand(TOMERACK_DEMO_SERVICE_PATH, {"--status", "42"});
  EXPECT_EQ(bad.exit_code, 2);
  EXPECT_NE(bad.err.find("--status needs a number from 100 to 599"), std::string::npos);
}

}  // namespace
