// tomerack-tool http get / range against the demo service.
#include <gtest/gtest.h>

#include "tests/support/demo_service_process.h"
#include "tests/support/run_command.h"
#include "tests/support/sandbox.h"

namespace {

using testing_support::RunCommand;

class ToolHttpTest : public testing_support::Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    ASSERT_TRUE(demo_.Start(dir()));
  }
  testing_support::DemoServiceProcess demo_;
};

TEST_F(ToolHttpTest, GetPrintsTextOrSavesAndFailsWithTheResultCode) {
  auto list = RunCommand(TOMERACK_TOOL_PATH, {"http", "get", demo_.Url("/serverlist")});
  EXPECT_EQ(list.exit_code, 0);
  EXPECT_EQ(list.out.find("app#demo#1#1#127.0.0.1:"), 0u);

  auto saved = RunCommand(TOMERACK_TOOL_PATH, {"http", "get", demo_.Url("/data/images/g1001.png"),
                                               "--out", Path("cover.png")});
  EXPECT_EQ(saved.exit_code, 0);
  EXPECT_EQ(ReadFile("cover.png").substr(1, 3), "PNG");

  auto binary =
      RunCommand(TOMERACK_TOOL_PATH, {"http", "get", demo_.Url("/data/images/g1001.png")});
  EXPECT_EQ(binary.exit_code, 1);
  EXPECT_NE(binary.err.find("--out FILE"), std::string::npos);

  auto missing = RunCommand(TOMERACK_TOOL_PATH, {"http", "get", demo_.Url("/nothing")});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err, "tomerack-tool: result 1009404 (Not Found)\n");

  EXPECT_EQ(RunCommand(TOMERACK_TOOL_PATH, {"http", "get"}).exit_code, 2);
}

TEST_F(ToolHttpTest, RangeResumesAndPrintsTheResultLast) {
  const std::string url = demo_.Url("/data/books/g1003/g1003.zip");
  auto whole = RunCommand(TOMERACK_TOOL_PATH, {"http", "range", url, Path("whole.zip")});
  ASSERT_EQ(whole.exit_code, 0) << whole.err;
  EXPECT_EQ(whole.out, "0\n");
  EXPECT_NE(whole.err.find("range honoured"), std::string::npos);
  std::string bytes = ReadFile("whole.zip");

  WriteFile("part.zip", bytes.substr(0, 5000));
  auto resumed =
      RunCommand(TOMERACK_TOOL_PATH, {"http", "range", url, Path("part.zip"), "--offset", "5000"});
  EXPECT_EQ(resumed.exit_code, 0);
  EXPECT_NE(resumed.err.find("writing from offset 5000"), std::string::npos);
  EXPECT_TRUE(ReadFile("part.zip") == bytes);

  auto missing =
      RunCommand(TOMERACK_TOOL_PATH, {"http", "range", demo_.Url("/data/none.zip"), Path("n.zip")});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.out, "1008404\n");
  EXPECT_EQ(
      RunCommand(TOMERACK_TOOL_PATH, {"http", "range", url, Path("x"), "--offset", "-1"}).exit_code,
      2);
}

}  // namespace
