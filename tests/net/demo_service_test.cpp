// The demo service answers what the client's endpoints rely on, and the
// start page can sign in to it.
#include <cJSON.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <strings.h>

#include <cctype>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "demo/demo_login.h"
#include "net/request_helpers.h"
#include "tests/support/demo_service_process.h"
#include "tests/support/run_command.h"
#include "tests/support/sandbox.h"
#include "util/identifiers.h"
#include "util/md5.h"

namespace {

using testing_support::DemoServiceProcess;

const char* U8(const char8_t* text) {
  return reinterpret_cast<const char*>(text);
}

using JsonPtr = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

JsonPtr ParseJson(const std::string& text) {
  return JsonPtr(cJSON_Parse(text.c_str()), cJSON_Delete);
}

std::string Member(const cJSON* json, const char* name) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(json, name);
  return cJSON_IsString(item) ? item->valuestring : "<missing " + std::string(name) + ">";
}

// The password as the client's PasswordMD hands it to the start page.
std::string Mixed(const std::string& password) {
  std::string mixed;
  MixTextWithKey(mixed, password, NewIdentifierText());
  return mixed;
}

std::string LoginForm(const std::string& user_name, const std::string& password) {
  return "username=" + user_name + "&password=" + Mixed(password);
}

// The same text with its last digit, the check digit, made to fit again.
std::string WithCheckDigit(std::string text) {
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < text.size(); ++i) sum += static_cast<unsigned char>(text[i]);
  text.back() = "0123456789ABCDEF"[sum % 16];
  return text;
}

class DemoServiceTest : public testing_support::Sandbox {
 protected:
  struct Book {
    std::string gid, bsid, title, cover, package, digest;
  };

  // The catalogue of uid, row by row; the session is one the service never
  // gave out.
  static std::vector<Book> CatalogueOf(httplib::Client& client, const std::string& uid) {
    const std::string request =
        "{\"Function\":\"DataAccess\",\"UID\":\"" + uid + "\",\"SessionID\":\"s-unchecked\"}";
    auto res = client.Post("/api/tomerack", {{"Authorization", "demo-token"}}, request,
                           "application/json");
    std::vector<Book> books;
    if (!res || res->status != 200) {
      ADD_FAILURE() << "no catalogue for " << uid;
      return books;
    }
    JsonPtr root = ParseJson(res->body);
    const cJSON* para = cJSON_GetObjectItem(root.get(), "Para");
    const cJSON* names = cJSON_GetObjectItem(para, "ColumnName");
    const cJSON* data = cJSON_GetObjectItem(para, "Data");
    const int columns = cJSON_GetArraySize(names);
    if (columns == 0 || cJSON_GetArraySize(data) % columns != 0) {
      ADD_FAILURE() << "malformed catalogue for " << uid;
      return books;
    }
    std::map<std::string, int> column;
    for (int i = 0; i < columns; ++i) column[cJSON_GetArrayItem(names, i)->valuestring] = i;
    for (int row = 0; row < cJSON_GetArraySize(data) / columns; ++row) {
      auto cell = [&](const char* name) -> std::string {
        return cJSON_GetArrayItem(data, row * columns + column.at(name))->valuestring;
      };
      books.push_back({cell("gid"), cell("bsid"), cell("fullName"), cell("baseImage"),
                       cell("bookPath"), cell("bookMD5")});
    }
    EXPECT_EQ(Member(para, "Rows"), std::to_string(books.size())) << uid;
    return books;
  }
};

TEST(UnmixPasswordTest, ReadsBackWhatTheMixerHid) {
  struct Case {
    std::string password;
    std::string expected;
  };
  const Case cases[] = {
      {"", ""},
      {"x", "x"},
      {"xm2026", "xm2026"},
      {"a b&c=d+e%f'g\"", "a b&c=d+e%f'g\""},
      {U8(u8"密码"), U8(u8"密码")},
      {std::string("\0\xff\x80", 3), std::string("\0\xff\x80", 3)},
      {"0123456789abcd", "0123456789abcd"},  // the most a 32-digit key carries
      {"0123456789abcdefXYZ", "0123456789abcd"},
  };
  std::vector<std::string> keys = {std::string(32, '0'), std::string(32, 'F')};
  for (int i = 0; i < 40; ++i) keys.push_back(NewIdentifierText());
  for (const Case& c : cases) {
    for (const std::string& key : keys) {
      std::string mixed, password = "left over";
      MixTextWithKey(mixed, c.password, key);
      ASSERT_EQ(mixed.size(), 32u) << c.password;
      EXPECT_TRUE(UnmixPassword(mixed, password)) << c.password << " " << mixed;
      EXPECT_EQ(password, c.expected) << mixed;
    }
  }
}

TEST(UnmixPasswordTest, RefusesTextsTheMixerCannotHaveWritten) {
  std::string password;
  const std::string mixed = Mixed("xm2026");
  ASSERT_TRUE(UnmixPassword(mixed, password));
  // Any one digit changed: the check digit gives it away.
  for (size_t i = 0; i < mixed.size(); ++i) {
    std::string tampered = mixed;
    const std::string digits = "0123456789ABCDEF0";
    tampered[i] = digits[digits.find(static_cast<char>(std::toupper(tampered[i]))) + 1];
    EXPECT_FALSE(UnmixPassword(tampered, password)) << tampered;
    EXPECT_EQ(password, "");
  }
  std::string odd;
  ASSERT_EQ(MixHexWithKey(odd, "abc", NewIdentifierText()), kMixOk);
  const std::string zeros(32, '0');
  struct Case {
    const char* what;
    std::string text;
  };
  const Case cases[] = {
      {"empty", ""},
      {"too short", WithCheckDigit(mixed.substr(1))},
      {"too long", WithCheckDigit(mixed + "0")},
      {"not hexadecimal", WithCheckDigit(mixed.substr(0, 10) + "G" + mixed.substr(11))},
      {"odd number of digits", odd},
      {"longer than the key can carry", WithCheckDigit("01F" + zeros.substr(3))},  // 30 digits
      {"the password in clear", "xm2026"},
  };
  for (const Case& c : cases) {
    password = "left over";
    EXPECT_FALSE(UnmixPassword(c.text, password)) << c.what;
    EXPECT_EQ(password, "") << c.what;
  }
}

TEST(DecodeFormBodyTest, DecodesPlusAndEscapesAndRefusesMalformedEscapes) {
  struct Case {
    const char* body;
    bool ok;
    std::map<std::string, std::string> fields;
  };
  const Case cases[] = {
      {"username=a+b&password=%41%2b%3d%25", true, {{"username", "a b"}, {"password", "A+=%"}}},
      {"n=%E5%B0%8F%e6%98%8e", true, {{"n", U8(u8"小明")}}},
      {"k%3Dx=v%26w=z", true, {{"k=x", "v&w=z"}}},
      {"a=1&a=2&&b&=c&", true, {{"a", "1"}, {"b", ""}, {"", "c"}}},
      {"", true, {}},
      {"a=%", false, {}},
      {"a=%4", false, {}},
      {"a=%4g", false, {}},
      {"a=%%41", false, {}},
      {"%zz=1", false, {}},
      {"a=1&b=%G0", false, {}},
  };
  for (const Case& c : cases) {
    std::map<std::string, std::string> fields;
    EXPECT_EQ(DecodeFormBody(c.body, fields), c.ok) << c.body;
    if (c.ok) {
      EXPECT_EQ(fields, c.fields) << c.body;
    }
  }
}

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

TEST_F(DemoServiceTest, LoginAnswersEachDemoUserWithANewSession) {
  DemoServiceProcess demo;
  ASSERT_TRUE(demo.Start(dir()));
  httplib::Client client("127.0.0.1", demo.port());
  struct Case {
    const char* form_user;  // as the form carries it
    const char* password;
    const char* uid;
    const char* user_name;
    const char8_t* display_name;
  };
  const Case cases[] = {
      {"xiaoming", "xm2026", "u2001", "xiaoming", u8"小明"},
      {"laoshi", "ls2026", "u3001", "laoshi", u8"王老师"},
      {"xiao%6Ding", "xm2026", "u2001", "xiaoming", u8"小明"},
  };
  std::set<std::string> sessions;
  for (const Case& c : cases) {
    auto res = client.Post("/api/login", LoginForm(c.form_user, c.password),
                           "application/x-www-form-urlencoded");
    ASSERT_TRUE(res) << c.form_user;
    EXPECT_EQ(res->status, 200) << c.form_user;
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/json; charset=utf-8");
    EXPECT_EQ(res->get_header_value("Access-Control-Allow-Origin"), "*");
    JsonPtr json = ParseJson(res->body);
    const std::string session = Member(json.get(), "SessionID");
    EXPECT_EQ(res->body, std::string("{\"Return\":\"0\",\"Message\":\"\",\"UID\":\"") + c.uid +
                             "\",\"SessionID\":\"" + session + "\",\"UserName\":\"" + c.user_name +
                             "\",\"DisplayName\":\"" + U8(c.display_name) + "\"}");
    EXPECT_EQ(session.size(), 32u);
    EXPECT_EQ(session.find_first_not_of("0123456789abcdef"), std::string::npos) << session;
    sessions.insert(session);
  }
  EXPECT_EQ(sessions.size(), std::size(cases));
}

TEST_F(DemoServiceTest, LoginRefusesWrongUsersPasswordsAndMalformedForms) {
  DemoServiceProcess demo;
  ASSERT_TRUE(demo.Start(dir()));
  httplib::Client client("127.0.0.1", demo.port());
  const std::string kWrong =
      std::string("{\"Return\":\"1002001\",\"Message\":\"") + U8(u8"用户名或密码错误") + "\"}";
  const std::string kMissing =
      std::string("{\"Return\":\"1002000\",\"Message\":\"") + U8(u8"缺少用户名或密码") + "\"}";
  const std::string mixed = Mixed("xm2026");
  std::string tampered = mixed;
  tampered[20] = tampered[20] == '0' ? '1' : '0';
  struct Case {
    const char* what;
    std::string body;
    int status;
    std::string answer;
  };
  const Case cases[] = {
      {"wrong password", LoginForm("xiaoming", "xm2025"), 401, kWrong},
      {"another user's password", LoginForm("xiaoming", "ls2026"), 401, kWrong},
      {"unknown user", LoginForm("xiaohong", "xm2026"), 401, kWrong},
      {"password in clear", "username=xiaoming&password=xm2026", 401, kWrong},
      {"tampered password", "username=xiaoming&password=" + tampered, 401, kWrong},
      {"no password", "username=xiaoming", 400, kMissing},
      {"empty password", "username=xiaoming&password=", 400, kMissing},
      {"no user name", "password=" + mixed, 400, kMissing},
      {"empty user name", "username=&password=" + mixed, 400, kMissing},
      {"empty form", "", 400, kMissing},
      {"bad escape", "username=xiao%zzming&password=" + mixed, 400, kMissing},
      {"cut escape", "username=xiaoming&password=" + mixed + "%4", 400, kMissing},
  };
  for (const Case& c : cases) {
    auto res = client.Post("/api/login", c.body, "application/x-www-form-urlencoded");
    ASSERT_TRUE(res) << c.what;
    EXPECT_EQ(res->status, c.status) << c.what;
    EXPECT_EQ(res->body, c.answer) << c.what;
    EXPECT_EQ(res->get_header_value("Access-Control-Allow-Origin"), "*") << c.what;
  }

  // The form is bounded at 64 KiB, padding included.
  std::string form = LoginForm("xiaoming", "xm2026") + "&pad=";
  form.resize(64 * 1024, 'p');
  auto at_bound = client.Post("/api/login", form, "application/x-www-form-urlencoded");
  ASSERT_TRUE(at_bound);
  EXPECT_EQ(at_bound->status, 200);
  auto over = client.Post("/api/login", form + "p", "application/x-www-form-urlencoded");
  ASSERT_TRUE(over);
  EXPECT_EQ(over->status, 413);
  EXPECT_EQ(over->get_header_value("Access-Control-Allow-Origin"), "*");
}

TEST_F(DemoServiceTest, EveryAnswerMayBeReadFromAnyOriginAndPreflightsAreAnswered) {
  DemoServiceProcess demo;
  ASSERT_TRUE(demo.Start(dir()));
  httplib::Client client("127.0.0.1", demo.port());
  for (const char* path :
       {"/api/login", "/api/tomerack", "/data/books/g1001/g1001.zip", "/nowhere"}) {
    auto res = client.Options(path);
    ASSERT_TRUE(res) << path;
    EXPECT_EQ(res->status, 204) << path;
    EXPECT_EQ(res->get_header_value("Access-Control-Allow-Origin"), "*") << path;
    EXPECT_EQ(res->get_header_value("Access-Control-Allow-Methods"), "GET, POST, OPTIONS") << path;
    EXPECT_EQ(res->get_header_value("Access-Control-Allow-Headers"), "Content-Type") << path;
    EXPECT_EQ(res->body, "") << path;
  }
  struct Case {
    const char* path;
    int status;
  };
  for (const Case& c : {Case{"/", 200}, Case{"/data/images/g1004.png", 200},
                        Case{"/data/books/g2001/g2001.zip.MD5", 200}, Case{"/nowhere", 404}}) {
    auto res = client.Get(c.path);
    ASSERT_TRUE(res) << c.path;
    EXPECT_EQ(res->status, c.status) << c.path;
    EXPECT_EQ(res->get_header_value("Access-Control-Allow-Origin"), "*") << c.path;
  }
  auto refused = client.Post("/api/tomerack", "{\"UID\":\"u2001\"}", "application/json");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 401);  // no token
  EXPECT_EQ(refused->get_header_value("Access-Control-Allow-Origin"), "*");
}

TEST_F(DemoServiceTest, IndexListsTheDemoUsersWithTheirPasswordsAndRoles) {
  DemoServiceProcess demo;
  ASSERT_TRUE(demo.Start(dir()));
  httplib::Client client("127.0.0.1", demo.port());
  auto res = client.Get("/");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain; charset=utf-8");
  for (const char8_t* line : {u8"  xiaoming  xm2026  学生  小明  u2001: g1001 g1002 g1003 g1004 "
                              u8"g1005 g1006 g1007\n",
                              u8"  laoshi    ls2026  教师  王老师  u3001: g2001 g2002 g2003\n"}) {
    EXPECT_NE(res->body.find(U8(line)), std::string::npos) << res->body;
  }
}

TEST_F(DemoServiceTest, CatalogueListsTheBooksOfTheRequestsUid) {
  WriteFile("extra.zip", "published as it is, whatever it holds");
  const std::vector<std::pair<const char*, const char8_t*>> shared = {
      {"g1001", u8"数学 七年级 上册"},
      {"g1002", u8"语文 七年级 上册"},
      {"g1003", u8"英语 七年级 上册"},
  };
  // The pupil's shelf is the shared books and four more.
  const std::vector<std::pair<const char*, const char8_t*>> student = {
      shared[0],
      shared[1],
      shared[2],
      {"g1004", u8"物理 八年级 上册"},
      {"g1005", u8"历史 七年级 上册"},
      {"g1006", u8"地理 七年级 上册"},
      {"g1007", u8"生物 七年级 上册"},
  };
  const std::vector<std::pair<const char*, const char8_t*>> teacher = {
      {"g2001", u8"数学 七年级 上册 教师用书"},
      {"g2002", u8"语文 七年级 教学参考"},
      {"g2003", u8"音乐 七年级 上册"},
  };
  struct Case {
    const char* uid;
    const std::vector<std::pair<const char*, const char8_t*>>& books;
  };
  const Case cases[] = {{"u2001", student}, {"u3001", teacher}, {"u42", shared}, {"", shared}};
  for (bool extra : {false, true}) {
    DemoServiceProcess demo;
    std::vector<std::string> options;
    if (extra) options = {"--extra-package", Path("extra.zip")};
    ASSERT_TRUE(demo.Start(dir(), options));
    httplib::Client client("127.0.0.1", demo.port());
    for (const Case& c : cases) {
      std::vector<std::string> expected, listed;
      for (const auto& [gid, title] : c.books)
        expected.push_back(std::string(gid) + " " + U8(title));
      if (extra) expected.push_back(std::string("g1900 ") + U8(u8"大容量 教材 样例"));
      for (const Book& book : CatalogueOf(client, c.uid)) {
        listed.push_back(book.gid + " " + book.title);
        EXPECT_EQ(book.bsid, "b" + book.gid.substr(1));
      }
      EXPECT_EQ(listed, expected) << "uid " << c.uid << (extra ? " with the extra package" : "");
    }
  }
}

TEST_F(DemoServiceTest, EveryGeneratedBookHasItsPackageAndABookLikeCover) {
  DemoServiceProcess demo;
  ASSERT_TRUE(demo.Start(dir()));
  httplib::Client client("127.0.0.1", demo.port());
  std::vector<Book> books = CatalogueOf(client, "u2001");
  for (Book& book : CatalogueOf(client, "u3001")) books.push_back(std::move(book));
  ASSERT_EQ(books.size(), 10u);
  std::set<unsigned> colours;
  for (const Book& book : books) {
    auto package = client.Get("/data/" + book.package);
    ASSERT_TRUE(package && package->status == 200) << book.gid;
    std::string digest;
    MD5Computer md5;
    ASSERT_TRUE(md5.TextMD5(digest, package->body));
    EXPECT_EQ(strcasecmp(digest.c_str(), book.digest.c_str()), 0) << book.gid;

    auto cover = client.Get("/data/" + book.cover);
    ASSERT_TRUE(cover && cover->status == 200) << book.gid;
    WriteFile(book.gid + ".png", cover->body);
    GdkPixbuf* image = gdk_pixbuf_new_from_file(Path(book.gid + ".png").c_str(), nullptr);
    ASSERT_NE(image, nullptr) << book.gid;
    const int width = gdk_pixbuf_get_width(image);
    const int height = gdk_pixbuf_get_height(image);
    const guchar* pixels = gdk_pixbuf_get_pixels(image);
    const int stride = gdk_pixbuf_get_rowstride(image);
    const int channels = gdk_pixbuf_get_n_channels(image);
    auto at = [&](int x, int y) {
      const guchar* p = pixels + y * stride + x * channels;
      return (unsigned{p[0]} << 16) | (unsigned{p[1]} << 8) | p[2];
    };
    auto lightness = [](unsigned rgb) { return (rgb >> 16) + ((rgb >> 8) & 0xff) + (rgb & 0xff); };
    EXPECT_EQ(width, 120) << book.gid;
    EXPECT_EQ(height, 160) << book.gid;
    if (width == 120 && height == 160) {
      const unsigned body = at(80, 140);
      const unsigned spine = at(3, 140);
      const unsigned band = at(80, 40);
      EXPECT_LT(lightness(spine), lightness(body)) << book.gid;
      EXPECT_GT(lightness(band), lightness(body)) << book.gid;
      // The spine runs the whole height; the band lies in the upper third.
      for (int y = 0; y < height; ++y) {
        EXPECT_EQ(at(3, y), spine) << book.gid << " row " << y;
        if (y >= height / 3) {
          EXPECT_EQ(at(80, y), body) << book.gid << " row " << y;
        }
      }
      colours.insert(body);
    }
    g_object_unref(image);
  }
  EXPECT_EQ(colours.size(), books.size());  // a colour of its own for each book
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

// Ranges are checked against the package before a byte is served: an
// inverted range or a start past the end is 416 with the size, and the
// service goes on answering.
TEST_F(DemoServiceTest, PackageRangesAreAnsweredAsHttpSays) {
  DemoServiceProcess demo;
  ASSERT_TRUE(demo.Start(dir()));
  httplib::Client client("127.0.0.1", demo.port());
  const std::string path = "/data/books/g1001/g1001.zip";
  auto whole = client.Get(path);
  ASSERT_TRUE(whole);
  ASSERT_EQ(whole->status, 200);
  const std::string bytes = whole->body;
  const size_t n = bytes.size();
  ASSERT_GT(n, 1000u);
  const std::string size = std::to_string(n);
  auto span = [&](size_t first, size_t last) {
    return "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + size;
  };

  const struct {
    std::string range;
    int status;
    std::string content_range;  // empty: none
    size_t first, count;        // the body, for 200 and 206
  } kCases[] = {
      {"bytes=100-50", 416, "bytes */" + size, 0, 0},
      {"bytes=" + size + "-", 416, "bytes */" + size, 0, 0},
      {"bytes=" + std::to_string(n + 5) + "-" + std::to_string(n + 10), 416, "bytes */" + size, 0,
       0},
      {"bytes=99999999999999999999999-", 416, "bytes */" + size, 0, 0},
      {"bytes=-0", 416, "bytes */" + size, 0, 0},
      {"bytes=0-", 206, span(0, n - 1), 0, n},
      {"bytes=100-199", 206, span(100, 199), 100, 100},
      {"bytes=100-100", 206, span(100, 100), 100, 1},
      {"bytes=" + std::to_string(n - 10) + "-" + std::to_string(n + 100), 206, span(n - 10, n - 1),
       n - 10, 10},
      {"bytes=-10", 206, span(n - 10, n - 1), n - 10, 10},
      {"bytes=-" + std::to_string(n + 1), 206, span(0, n - 1), 0, n},
      {"bytes=5-9,20-30", 206, span(5, 9), 5, 5},  // the first range only
      {"items=0-5", 200, "", 0, n},
      {"bytes=abc", 200, "", 0, n},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.range);
    auto res = client.Get(path, {{"Range", c.range}});
    ASSERT_TRUE(res) << "the service stopped answering";
    EXPECT_EQ(res->status, c.status);
    EXPECT_EQ(res->get_header_value("Content-Range"), c.content_range);
    // Compared without printing: the bodies are binary and large.
    const std::string expected = c.status == 416 ? "" : bytes.substr(c.first, c.count);
    EXPECT_TRUE(res->body == expected) << res->body.size() << " bytes, not " << expected.size();
  }
  auto after = client.Get(path);
  ASSERT_TRUE(after);
  EXPECT_TRUE(after->body == bytes);
}

// Held to a rate, every package transfer takes at least its size over the
// rate, whole or in part, for the big file and for packages alike; the
// bytes are the ones served without a limit. (A lower bound only: a busy
// machine may make any transfer slower.)
TEST_F(DemoServiceTest, RateLimitHoldsEachPackageTransfer) {
  constexpr size_t kMiB = 1 << 20;
  constexpr int kRateMib = 4;
  std::string package(2 * kMiB, '\0');
  for (size_t i = 0; i < package.size(); ++i) package[i] = static_cast<char>((i * 131) >> 7);
  WriteFile("extra.zip", package);
  DemoServiceProcess demo;
  ASSERT_TRUE(demo.Start(dir(), {"--rate-mib", std::to_string(kRateMib), "--big-file-mib", "4",
                                 "--extra-package", Path("extra.zip")}));
  httplib::Client client("127.0.0.1", demo.port());
  client.set_read_timeout(30, 0);

  const struct {
    const char* path;
    std::string range;  // empty: none
    size_t first, count;
    const std::string* whole;  // what is served, when the test knows it
  } kCases[] = {
      {"/data/big.bin", "", 0, 4 * kMiB, nullptr},
      {"/data/big.bin", "bytes=1048576-", kMiB, 3 * kMiB, nullptr},
      {"/data/books/g1900/g1900.zip", "", 0, 2 * kMiB, &package},
      {"/data/books/g1900/g1900.zip", "bytes=-1048576", kMiB, kMiB, &package},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.path) + " " + c.range);
    httplib::Headers headers;
    if (!c.range.empty()) headers.emplace("Range", c.range);
    const auto started = std::chrono::steady_clock::now();
    auto res = client.Get(c.path, headers);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, c.range.empty() ? 200 : 206);
    ASSERT_EQ(res->body.size(), c.count);
    if (c.whole != nullptr) {
      EXPECT_TRUE(res->body == c.whole->substr(c.first, c.count));
    }
    const double least = static_cast<double>(c.count) / (kRateMib * kMiB);
    EXPECT_GE(seconds, least * 0.95) << "faster than " << kRateMib << " MiB/s";
  }
}

TEST_F(DemoServiceTest, StopsByItselfAndRefusesBadOptions) {
  auto ended =
      testing_support::RunCommand(TOMERACK_DEMO_SERVICE_PATH, {"--port", "0", "--stop-after", "1"});
  EXPECT_EQ(ended.exit_code, 0);
  EXPECT_NE(ended.out.find("listening on http://127.0.0.1:"), std::string::npos);
  auto bad = testing_support::RunCommand(TOMERACK_DEMO_SERVICE_PATH, {"--status", "42"});
  EXPECT_EQ(bad.exit_code, 2);
  EXPECT_NE(bad.err.find("--status needs a number from 100 to 599"), std::string::npos);
  auto no_rate = testing_support::RunCommand(TOMERACK_DEMO_SERVICE_PATH, {"--rate-mib", "0"});
  EXPECT_EQ(no_rate.exit_code, 2);
  EXPECT_NE(no_rate.err.find("--rate-mib needs a number from 1 to 65536"), std::string::npos);
}

}  // namespace
