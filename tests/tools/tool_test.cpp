// The admin tool as deployers run it: a separate process on real files.
#include <gtest/gtest.h>

#include "tests/support/run_command.h"
#include "tests/support/sandbox.h"
#include "util/base64.h"

namespace {

using testing_support::CommandResult;
using testing_support::RunCommand;

// The terminal speaks UTF-8, while plain literals here are compiled to the
// program's code page.
std::string Utf8(const char8_t* text) {
  return reinterpret_cast<const char*>(text);
}

class ToolTest : public testing_support::Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    env_ = {{"TOMERACK_REGISTRY_DIR", Path("registry")}};
  }
  CommandResult Tool(const std::vector<std::string>& args) {
    return RunCommand(TOMERACK_TOOL_PATH, args, {}, env_);
  }
  // A failure prints exactly one line on stderr and is no crash.
  static void ExpectCleanFailure(const CommandResult& r, const std::string& context) {
    EXPECT_NE(r.exit_code, 0) << context;
    EXPECT_EQ(r.signal, 0) << context;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << context << ": " << r.err;
  }
  std::map<std::string, std::string> env_;
};

TEST_F(ToolTest, SealAndUnsealRoundTripInBothLayouts) {
  const std::string text = "[{\"Type\":\"SystemPara\",\"Key\":\"uid\",\"Value\":\"42\"}]";
  WriteFile("plain.json", text);
  for (bool record : {false, true}) {
    std::vector<std::string> flag =
        record ? std::vector<std::string>{"--record"} : std::vector<std::string>{};
    auto with = [&flag](std::vector<std::string> rest) {
      std::vector<std::string> all = {rest[0]};
      all.insert(all.end(), flag.begin(), flag.end());
      all.insert(all.end(), rest.begin() + 1, rest.end());
      return all;
    };
    CommandResult seal = Tool(with({"seal", Path("plain.json"), Path("sealed")}));
    ASSERT_EQ(seal.exit_code, 0) << seal.err;
    EXPECT_NE(ReadFile("sealed"), text);
    EXPECT_EQ(ReadFile("sealed").size(), text.size() + 32);

    CommandResult to_stdout = Tool(with({"unseal", Path("sealed")}));
    ASSERT_EQ(to_stdout.exit_code, 0) << to_stdout.err;
    EXPECT_EQ(to_stdout.out, text);
    CommandResult to_file = Tool(with({"unseal", Path("sealed"), Path("back.json")}));
    ASSERT_EQ(to_file.exit_code, 0) << to_file.err;
    EXPECT_EQ(ReadFile("back.json"), text);
  }
}

TEST_F(ToolTest, UnsealNamesTheResultCodeOnFailure) {
  WriteFile("short", "0123456789");
  WriteFile("empty", "");
  const struct {
    std::string file;
    std::string code;
  } kCases[] = {{Path("short"), "result code 3"},
                {Path("empty"), "result code 2"},
                {Path("missing"), "result code 2"}};
  for (const auto& c : kCases) {
    CommandResult r = Tool({"unseal", c.file});
    ExpectCleanFailure(r, c.file);
    EXPECT_NE(r.err.find(c.code), std::string::npos) << r.err;
  }
}

TEST_F(ToolTest, PlainFilesPassThroughUnseal) {
  WriteFile("plain.EF", "  [1,2]");
  CommandResult r = Tool({"unseal", Path("plain.EF")});
  ASSERT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "  [1,2]");
}

TEST_F(ToolTest, ConfigSetGetListUseTheClientsFiles) {
  const std::string dir_arg = dir();
  CommandResult set = Tool({"config", "--program-dir", dir_arg, "set", "uid", Utf8(u8"张三")});
  ASSERT_EQ(set.exit_code, 0) << set.err;
  ASSERT_EQ(Tool({"config", "--program-dir", dir_arg, "set", "_INI_Theme", "blue"}).exit_code, 0);
  ASSERT_EQ(Tool({"config", "--program-dir", dir_arg, "set", "uid", Utf8(u8"李四")}).exit_code, 0);

  CommandResult get = Tool({"config", "--program-dir", dir_arg, "get", "uid"});
  ASSERT_EQ(get.exit_code, 0) << get.err;
  EXPECT_EQ(get.out, Utf8(u8"李四") + "\n");

  CommandResult list = Tool({"config", "--program-dir", dir_arg, "list"});
  ASSERT_EQ(list.exit_code, 0) << list.err;
  EXPECT_NE(list.out.find("\"Key\":\t\"uid\""), std::string::npos) << list.out;
  EXPECT_NE(list.out.find(Utf8(u8"李四")), std::string::npos);
  EXPECT_EQ(list.out.find(Utf8(u8"张三")), std::string::npos);

  // The file keeps the client's code page; the "_INI_" entry also went to
  // the client's instance INI file, not to one named after the tool.
  CommandResult raw = Tool({"unseal", Path("system/Config.EF"), Path("plain")});
  ASSERT_EQ(raw.exit_code, 0);
  EXPECT_NE(ReadFile("plain").find("\xC0\xEE\xCB\xC4"), std::string::npos);
  EXPECT_NE(ReadFile("system/tomerack.ini").find("Theme=blue"), std::string::npos);
  EXPECT_FALSE(Exists("system/tomerack-tool.ini"));

  ExpectCleanFailure(Tool({"config", "--program-dir", dir_arg, "get", "absent"}), "absent key");
}

TEST_F(ToolTest, ConfigRefusesToOverwriteAnUnreadableFile) {
  WriteFile("system/Config.EF", "0123456789");
  ExpectCleanFailure(Tool({"config", "--program-dir", dir(), "set", "a", "b"}), "set");
  ExpectCleanFailure(Tool({"config", "--program-dir", dir(), "list"}), "list");
  EXPECT_EQ(ReadFile("system/Config.EF"), "0123456789");
}

TEST_F(ToolTest, Md5AndBase64) {
  WriteFile("abc", "abc");
  WriteFile("empty", "");
  CommandResult md5 = Tool({"md5", Path("abc")});
  ASSERT_EQ(md5.exit_code, 0);
  EXPECT_EQ(md5.out, "900150983cd24fb0d6963f7d28e17f72\n");
  EXPECT_EQ(Tool({"md5", Path("empty")}).out, "d41d8cd98f00b204e9800998ecf8427e\n");
  EXPECT_EQ(Tool({"base64", Path("abc")}).out, "YWJj=");
  CommandResult empty = Tool({"base64", Path("empty")});
  EXPECT_EQ(empty.exit_code, 0);
  EXPECT_EQ(empty.out, "");
  ExpectCleanFailure(Tool({"md5", Path("missing")}), "md5 missing");
  ExpectCleanFailure(Tool({"base64", Path("missing")}), "base64 missing");
}

// The tool encodes large files block by block; the text must be the one the
// whole file gives, also around block boundaries.
TEST_F(ToolTest, Base64OfLargeFilesEqualsTheWholeFileText) {
  constexpr size_t kBlock = 54 * 32768;
  std::string data(2 * kBlock + 7, '\0');
  uint32_t x = 7;
  for (auto& c : data) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  for (size_t size : {size_t{54}, kBlock - 1, kBlock, kBlock + 1, 2 * kBlock, 2 * kBlock + 7}) {
    WriteFile("big", data.substr(0, size));
    std::string expected;
    CBase64Coding().EncodeRawToText(data.data(), size, expected);
    CommandResult r = Tool({"base64", Path("big")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(r.out == expected)
        << "size " << size << ": " << r.out.size() << " vs " << expected.size();
  }
}

TEST_F(ToolTest, BadInvocationsFailCleanly) {
  const std::vector<std::vector<std::string>> kCases = {
      {},
      {"frobnicate"},
      {"seal"},
      {"seal", "only-one"},
      {"seal", "--record", Path("missing"), Path("out")},
      {"unseal", "a", "b", "c"},
      {"config"},
      {"config", "--program-dir"},
      {"config", "--program-dir", dir(), "set", "only-key"},
      {"config", "--program-dir", dir(), "remove", "x"},
      {"md5"},
      {"md5", dir()},
      {"base64", "a", "b"},
      {"seal", Path("missing"), Path("no/such/dir/\xff\xfe")},
  };
  for (const auto& args : kCases) {
    std::string context;
    for (const auto& a : args) context += a + " ";
    ExpectCleanFailure(Tool(args), context);
  }
  EXPECT_EQ(Tool({"--help"}).exit_code, 0);
}

}  // namespace
