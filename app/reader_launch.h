// Opening an installed book in its reader program: which program, what the
// reader is told (the user in a hand-over INI file beside it, the reader
// type, the book's directory and bookID on its command line), and the table
// of running readers that the main window stops before a book operation and
// at exit.
//
// A reader is started as
//   READER --reader-type TYPE --book-dir INSTALL_DIR --book-id BOOKID
// with the reader's own directory as working directory. TYPE is the short
// code of the book's publisher ("rj", "bsd", ...; empty when unknown).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/process.h"

class BookCollection;
class WindowFrame;

inline constexpr const char kBookNotInstalledMessage[] = "该教材还未安装，请稍后再试！";
inline constexpr const char kBookFilesMissingMessage[] = "教材文件缺失，请卸该本教材，重新下载！";
inline constexpr const char kReaderRunningQuestion[] = "该教材已经启动，是否关闭后重新启动？";
inline constexpr const char kReaderStartFailedCaption[] = "出错：";
inline constexpr const char kReaderSessionSection[] = "session";
inline constexpr const char kReaderUserKey[] = "un";

struct Publisher {
  const char* type;
  const char* short_name;
  const char* name;
  const char* code;
};

// The publishers in the order they are matched.
const std::vector<Publisher>& PublisherTable();

// The reader type of a bookID: "rj" for bookIDs shorter than 7 characters,
// otherwise the type of the publisher whose code the bookID starts with, or
// empty.
std::string ReaderTypeOf(const std::string& book_id);

// The command line after the program path.
std::vector<std::string> ReaderArguments(const std::string& reader_type,
                                         const std::string& install_dir,
                                         const std::string& book_id);

// Running readers by reader path (case folded); one per reader program.
class ReaderProcessTable {
 public:
  ReaderProcessTable() = default;
  ReaderProcessTable(const ReaderProcessTable&) = delete;
  ReaderProcessTable& operator=(const ReaderProcessTable&) = delete;

  static std::string KeyOf(const std::string& reader_path);

  platform::ProcessHandle* Find(const std::string& reader_path);
  void Put(const std::string& reader_path, platform::ProcessHandle process);
  // Ends the reader started from reader_path (if tracked) and forgets it.
  void Terminate(const std::string& reader_path);
  void TerminateAll();
  size_t size() const { return processes_.size(); }

 private:
  std::map<std::string, platform::ProcessHandle> processes_;
};

// What opening needs from its window: message boxes (the answer is the
// Windows IDOK/IDYES/IDNO value).
struct ReaderLaunchContext {
  BookCollection& collection;
  ReaderProcessTable& readers;
  WindowFrame* frame;             // owner of the message boxes; may be null
  std::string reader_user;        // written to the hand-over file
};

// Opens the book the catalogue maps bsid to, telling the user why when it
// cannot. A book whose manifest shows files missing or changed is not
// opened: the user is asked whether to repair it (book_open_check.h). True
// when a reader was started.
bool OpenBookInReader(ReaderLaunchContext& context, const std::string& bsid);
