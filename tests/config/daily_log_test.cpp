#include "config/daily_log.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "tests/support/program_dir.h"

namespace {

class DailyLogTest : public testing_support::ProgramDirSandbox {
 protected:
  // The content of today's log file (the only one in log/).
  std::string TodaysLog() {
    std::vector<platform::DirectoryEntry> entries;
    EXPECT_TRUE(platform::ListDirectory(Path("log"), "log*.txt", entries));
    EXPECT_EQ(entries.size(), 1u);
    if (entries.empty()) return {};
    name_ = entries[0].name;
    return ReadFile("log/" + entries[0].name);
  }
  std::string name_;
};

TEST_F(DailyLogTest, FirstLineCreatesTheDaysFileAndLaterLinesAppend) {
  ASSERT_FALSE(Exists("log"));
  WriteLogLine("first");
  WriteLogLine("second\r\nspans lines");
  std::string log = TodaysLog();
  EXPECT_TRUE(std::regex_match(name_, std::regex(R"(log\d{6}\.txt)"))) << name_;
  const std::regex expected(R"(\d\d-\d\d-\d\d \d\d:\d\d:\d\d : first\r\n)"
                            R"(\d\d-\d\d-\d\d \d\d:\d\d:\d\d : second\r\nspans lines\r\n)");
  EXPECT_TRUE(std::regex_match(log, expected)) << log;
  // The date in the name is the date in the prefix.
  EXPECT_EQ(name_.substr(3, 2) + "-" + name_.substr(5, 2) + "-" + name_.substr(7, 2),
            log.substr(0, 8));
}

TEST_F(DailyLogTest, FormattedEntriesAreFollowedByAnEmptyLine) {
  WriteLogFormat("upgrade failed: %d (%s)", 3, "\xCD\xF8\xC2\xE7");
  std::string log = TodaysLog();
  EXPECT_TRUE(std::regex_match(log, std::regex("\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d : "
                                               "upgrade failed: 3 \\(\xCD\xF8\xC2\xE7\\)\r\n\r\n")))
      << log;
}

TEST_F(DailyLogTest, LinesFromManyThreadsNeverInterleave) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 50; ++i) {
        if (i % 2)
          WriteLogLine(std::string(200, static_cast<char>('a' + t)));
        else
          WriteLogFormat("%s", std::string(200, static_cast<char>('a' + t)).c_str());
      }
    });
  }
  for (auto& th : threads) th.join();
  std::string log = TodaysLog();
  const std::regex line(R"(\d\d-\d\d-\d\d \d\d:\d\d:\d\d : (a{200}|b{200}|c{200}|d{200}))");
  size_t start = 0, count = 0;
  while (start < log.size()) {
    size_t end = log.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    std::string one = log.substr(start, end - start);
    if (!one.empty()) {
      EXPECT_TRUE(std::regex_match(one, line)) << one.substr(0, 60);
      ++count;
    }
    start = end + 2;
  }
  EXPECT_EQ(count, 200u);
}

TEST_F(DailyLogTest, AnUnwritableLogIsIgnored) {
  WriteFile("log", "a file where the directory should be");
  WriteLogLine("lost");
  WriteLogFormat("lost %d", 1);
  EXPECT_EQ(ReadFile("log"), "a file where the directory should be");
}

TEST(FormatLastError, GivesTheCodeAndTheSystemText) {
  platform::File missing("/nonexistent-dir/for-sure/file", platform::OpenMode::kRead);
  ASSERT_FALSE(missing.IsOpen());
  auto [code, text] = FormatLastError();
  EXPECT_EQ(code, 2);
  EXPECT_FALSE(text.empty());
  platform::SetLastErrorCode(98765);
  EXPECT_EQ(FormatLastErrorText(), "Errorcode:98765");
}

}  // namespace
