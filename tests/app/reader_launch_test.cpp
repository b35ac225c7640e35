// Opening installed books in real reader processes: the questions, the
// hand-over file, the command line and the table of running readers.
#include "app/reader_launch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "books/book_collection.h"
#include "books/book_paths.h"
#include "config/program_paths.h"
#include "platform/ini_file.h"
#include "tests/browser/scripted_window.h"
#include "tests/support/program_dir.h"
#include "util/file_io.h"
#include "util/path_names.h"

namespace {

class NoEvents : public WindowFrameEvents {
  void OnButton(int) override {}
  void OnAddressEnter() override {}
  void OnCloseRequest() override {}
  void OnTimer(int) override {}
};

// Writes its arguments, one per line, then waits to be ended.
constexpr const char kReaderScript[] =
    "#!/bin/sh\n"
    "for a in \"$@\"; do echo \"$a\"; done > \"$(dirname \"$0\")/args-$$.txt\"\n"
    "echo \"$$\" >> \"$(dirname \"$0\")/starts.txt\"\n"
    "while :; do sleep 1; done\n";

class ReaderLaunchTest : public testing_support::ProgramDirSandbox {
 protected:
  void SetUp() override {
    ProgramDirSandbox::SetUp();
    collection_ = std::make_unique<BookCollection>();
    std::vector<std::string> row(kCatalogueColumns);
    row[kColumnBsid] = "b1";
    row[kColumnGid] = kBookId;
    collection_->catalogue().Store("raw", row);
    record_ = std::make_shared<BookRecord>(collection_.get());
    record_->Update([](BookFields& f) {
      f.gid = f.bookID = kBookId;
      f.bookStatus = kBookInstalled;
      f.bookURL = "books/g.zip";
      f.bookReader = "bin/reader.sh";
    });
    install_dir_ = InstallDirectoryOf(*record_);
    reader_ = ReaderPathOf(*record_);
    Reset();
  }
  // An installed book with its reader in place.
  void Reset() {
    record_->Update([](BookFields& f) { f.bookReader = "bin/reader.sh"; });
    collection_->PutRecord(kBookId, record_);
    record_->SetStatusBits(kBookInstalled);
    ASSERT_TRUE(CreateParentDirectories(reader_));
    ASSERT_TRUE(WriteWholeFile(kReaderScript, sizeof kReaderScript - 1, reader_));
    chmod(reader_.c_str(), 0755);
  }
  void TearDown() override {
    readers_.TerminateAll();
    collection_.reset();
    ProgramDirSandbox::TearDown();
  }

  bool Open() {
    ReaderLaunchContext context{*collection_, readers_, &frame_, "pupil-7"};
    return OpenBookInReader(context, "b1");
  }
  // Process ids in the order the reader was started, once each has written
  // its arguments.
  std::vector<int> Starts(size_t expected) {
    std::string path = JoinPath(GetParentDirectory(reader_), "starts.txt");
    std::vector<int> pids;
    for (int i = 0; i < 200; ++i) {
      std::string text;
      pids.clear();
      if (ReadWholeFile(path, text)) {
        size_t at = 0;
        while (at < text.size()) {
          size_t end = text.find('\n', at);
          pids.push_back(std::stoi(text.substr(at, end - at)));
          at = end == std::string::npos ? text.size() : end + 1;
        }
      }
      if (pids.size() >= expected) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return pids;
  }
  std::string ArgumentsOf(int pid) {
    std::string text;
    ReadWholeFile(JoinPath(GetParentDirectory(reader_), "args-" + std::to_string(pid) + ".txt"),
                  text);
    return text;
  }
  bool Running(int pid) { return platform::ProcessRunsProgram(pid, reader_); }

  static constexpr const char* kBookId = "16012345678";
  std::unique_ptr<BookCollection> collection_;
  RecordPtr record_;
  ReaderProcessTable readers_;
  NoEvents events_;
  ScriptedFrame frame_{events_};
  std::string install_dir_, reader_;
};

TEST(ReaderType, ComesFromThePublisherCodeOfTheBookId) {
  struct Case {
    const char* book_id;
    const char* type;
  };
  const Case cases[] = {
      {"16012345678", "bsd"}, {"11000000000", "rj"}, {"31xxxxx", "rm"},
      {"99012345678", ""},    {"160123", "rj"},      {"", "rj"},
  };
  for (const Case& c : cases) EXPECT_EQ(ReaderTypeOf(c.book_id), c.type) << c.book_id;
  EXPECT_EQ(PublisherTable().size(), 21u);
  EXPECT_STREQ(PublisherTable()[10].name, "广东教育出j版社");
  EXPECT_STREQ(PublisherTable()[20].name, "人民美术出版社 ");
}

TEST_F(ReaderLaunchTest, StartsTheReaderWithTheBookAndHandsOverTheUser) {
  ASSERT_TRUE(Open());
  std::vector<int> starts = Starts(1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(ArgumentsOf(starts[0]), "--reader-type\nbsd\n--book-dir\n" + install_dir_ +
                                        "\n--book-id\n" + kBookId + "\n");
  EXPECT_EQ(platform::GetPrivateProfileString("session", "un", "", GetSiblingIniPath(reader_)),
            "pupil-7");
  EXPECT_TRUE(frame_.messages.empty());
}

TEST_F(ReaderLaunchTest, OpeningARunningReaderAsksWhetherToRestartIt) {
  ASSERT_TRUE(Open());
  int first = Starts(1).at(0);

  frame_.answers = {7};  // No
  EXPECT_FALSE(Open());
  ASSERT_EQ(frame_.messages,
            std::vector<std::string>{"提示|该教材已经启动，是否关闭后重新启动？"});
  EXPECT_TRUE(Running(first));
  EXPECT_EQ(readers_.Find(reader_)->pid(), first);

  frame_.answers = {6};  // Yes
  EXPECT_TRUE(Open());
  std::vector<int> starts = Starts(2);
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(readers_.Find(reader_)->pid(), starts[1]);
  for (int i = 0; i < 200 && Running(first); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(Running(first));
  EXPECT_EQ(readers_.size(), 1u);
}

TEST_F(ReaderLaunchTest, AReaderThatEndedIsStartedAgainWithoutAQuestion) {
  ASSERT_TRUE(Open());
  int first = Starts(1).at(0);
  kill(first, SIGKILL);
  for (int i = 0; i < 200 && readers_.Find(reader_)->IsRunning(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(Open());
  EXPECT_TRUE(frame_.messages.empty());
  EXPECT_EQ(Starts(2).size(), 2u);
}

TEST_F(ReaderLaunchTest, RefusalsSayWhyAndStartNothing) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    const char* shown;
  };
  const Case cases[] = {
      {"not installed",
       [this] { record_->ClearStatusBits(kBookInstalled); },
       "提示|该教材还未安装，请稍后再试！"},
      {"unknown book",
       [this] { collection_->RemoveRecord(kBookId); },
       "提示|该教材还未安装，请稍后再试！"},
      // Still marked installed, but the files are gone.
      {"directory deleted",
       [this] { std::filesystem::remove_all(install_dir_); },
       "提示|教材文件缺失，请卸该本教材，重新下载！"},
      {"not executable", [this] { chmod(reader_.c_str(), 0644); }, nullptr},
      // Service data naming a program outside the book is never started.
      {"reader outside the book",
       [this] { record_->Update([](BookFields& f) { f.bookReader = "../../../../bin/sh"; }); },
       "提示|教材文件缺失，请卸该本教材，重新下载！"},
      {"absolute reader",
       [this] { record_->Update([](BookFields& f) { f.bookReader = "/bin/sh"; }); },
       "提示|教材文件缺失，请卸该本教材，重新下载！"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    c.arrange();
    frame_.messages.clear();
    EXPECT_FALSE(Open());
    ASSERT_EQ(frame_.messages.size(), 1u);
    if (c.shown != nullptr) {
      EXPECT_EQ(frame_.messages[0], c.shown);
    } else {
      EXPECT_EQ(frame_.messages[0].rfind("出错：|", 0), 0u) << frame_.messages[0];
    }
    EXPECT_EQ(readers_.size(), 0u);
  }
}

}  // namespace
