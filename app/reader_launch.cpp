#include "app/reader_launch.h"

#include "app/book_open_check.h"
#include "app/notification_windows.h"
#include "books/book_collection.h"
#include "books/book_paths.h"
#include "books/book_record.h"
#include "books/book_repair.h"
#include "browser/window_frame.h"
#include "config/daily_log.h"
#include "config/program_paths.h"
#include "platform/codepage.h"
#include "platform/ini_file.h"
#include "platform/ui_loop.h"
#include "util/file_io.h"
#include "util/path_names.h"

namespace {

constexpr size_t kShortBookIdLength = 7;
constexpr const char kShortBookIdType[] = "rj";

constexpr int kYesNoQuestion = kMessageBoxYesNo | 0x20;  // with the question icon

int AskUser(WindowFrame* frame, const std::string& text, const std::string& caption, int type) {
  if (frame == nullptr) return kMessageBoxAnswerOk;
  return frame->MessageBox(text, caption, type);
}

// The book's files looked at before its reader starts. False when they are
// damaged: the user was offered a repair, which runs as the tool's does.
bool FilesAllowOpening(ReaderLaunchContext& context, const BookRecord& record,
                       const std::string& bsid, const std::string& reader_path) {
  InstalledBookCheck files = CheckRecordedBook(record, CheckDepth::kSizesOnly);
  std::string log_line = OpenCheckLogLine(record.BookId(), files);
  if (!log_line.empty()) WriteLogLine(log_line);
  if (DecideBeforeOpening(files) == OpenDecision::kOpen) return true;
  int answer = AskUser(context.frame, RepairQuestion(DamagedFileCount(files)), kNotificationCaption,
                       kYesNoQuestion);
  if (answer != kMessageBoxAnswerYes) return false;
  // The reader must not hold files of the book while they are replaced.
  if (!reader_path.empty()) context.readers.Terminate(reader_path);
  BookOperationResult result;
  platform::RunKeepingUiAlive([&] { result = RepairBook(context.collection, bsid); });
  if (result.code != 0 && !result.message.empty())
    context.collection.ShowCollectionMessage(result.message, 0);
  return false;
}

}  // namespace

const std::vector<Publisher>& PublisherTable() {
  static const std::vector<Publisher> table = {
      {"rj", "人教", "人民教育出版社", "11"},
      {"sj", "苏教", "江苏教育出版社", "12"},
      {"xj", "湘教", "湖南教育出版社", "13"},
      {"yws", "语文社", "语文出版社", "14"},
      {"wys", "外研社", "外语教学与研究出版社", "15"},
      {"bsd", "北师大", "北京师范大学出版社", "16"},
      {"hj", "沪教", "上海教育出版社", "17"},
      {"hk", "沪科", "上海科学技术出版社", "18"},
      {"xsd", "西师大", "西南师范大学出版社", "19"},
      {"kxs", "科学社", "科学出版社", "20"},
      {"yj", "粤教", "广东教育出j版社", "21"},
      {"lj", "鲁教", "山东教育出版社", "22"},
      {"ky", "科粤", "科学出版社 广东教育出版社", "23"},
      {"xl", "湘鲁", "湖南教育出版社 山东教育出版社", "24"},
      {"hsd", "华师大", "华东师范大学出版社", "25"},
      {"xm", "湘美", "湖南美术出版社", "26"},
      {"xw", "湘文艺", "湖南文艺出版社", "27"},
      {"ry", "人音社", "人民音乐出版社", "28"},
      {"zt", "中图社", "中国地图出版社", "29"},
      {"kp", "科普社", "科学普及出版社", "30"},
      {"rm", "人美社", "人民美术出版社 ", "31"},
  };
  return table;
}

std::string ReaderTypeOf(const std::string& book_id) {
  if (book_id.size() < kShortBookIdLength) return kShortBookIdType;
  for (const Publisher& publisher : PublisherTable()) {
    if (book_id.compare(0, 2, publisher.code) == 0) return publisher.type;
  }
  return std::string();
}

std::vector<std::string> ReaderArguments(const std::string& reader_type,
                                         const std::string& install_dir,
                                         const std::string& book_id) {
  return {"--reader-type", reader_type, "--book-dir", install_dir, "--book-id", book_id};
}

std::string ReaderProcessTable::KeyOf(const std::string& reader_path) {
  return platform::GbkToUpper(reader_path);
}

platform::ProcessHandle* ReaderProcessTable::Find(const std::string& reader_path) {
  auto it = processes_.find(KeyOf(reader_path));
  return it == processes_.end() ? nullptr : &it->second;
}

void ReaderProcessTable::Put(const std::string& reader_path, platform::ProcessHandle process) {
  processes_[KeyOf(reader_path)] = std::move(process);
}

void ReaderProcessTable::Terminate(const std::string& reader_path) {
  auto it = processes_.find(KeyOf(reader_path));
  if (it == processes_.end()) return;
  it->second.Terminate();
  processes_.erase(it);
}

void ReaderProcessTable::TerminateAll() {
  for (auto& [key, process] : processes_) process.Terminate();
  processes_.clear();
}

bool OpenBookInReader(ReaderLaunchContext& context, const std::string& bsid) {
  std::string gid;
  context.collection.catalogue().GidForBsid(bsid, gid);
  RecordPtr record = gid.empty() ? nullptr : context.collection.FindRecord(gid);
  // Everything below works on this copy; a worker may change the record.
  BookFields book;
  std::string reader_path;
  if (record) {
    book = record->Fields();
    reader_path = ReaderPathOf(*record);
  }
  if (!record || (book.bookStatus & kBookInstalled) == 0) {
    AskUser(context.frame, kBookNotInstalledMessage, kNotificationCaption, 0);
    return false;
  }
  if (!FilesAllowOpening(context, *record, bsid, reader_path)) return false;
  if (reader_path.empty() || !FileExists(reader_path)) {
    AskUser(context.frame, kBookFilesMissingMessage, kNotificationCaption, 0);
    return false;
  }

  // Packages need not bring the reader's system folder; the hand-over file
  // is written all the same.
  std::string handover = GetSiblingIniPath(reader_path);
  CreateParentDirectories(handover);
  platform::WritePrivateProfileString(kReaderSessionSection, kReaderUserKey, context.reader_user,
                                      handover);

  if (platform::ProcessHandle* running = context.readers.Find(reader_path)) {
    if (running->IsRunning() && platform::ProcessRunsProgram(running->pid(), reader_path)) {
      if (AskUser(context.frame, kReaderRunningQuestion, kNotificationCaption, kYesNoQuestion) ==
          kMessageBoxAnswerNo) {
        return false;
      }
    }
    context.readers.Terminate(reader_path);
  }

  std::string install_dir = InstallDirPath(PackagePathOf(book));
  platform::ProcessHandle process = platform::StartProcess(
      reader_path, ReaderArguments(ReaderTypeOf(book.bookID), install_dir, book.bookID),
      GetParentDirectory(reader_path));
  if (!process.valid()) {
    AskUser(context.frame, FormatLastErrorText(), kReaderStartFailedCaption, 0);
    return false;
  }
  context.readers.Put(reader_path, std::move(process));
  return true;
}
