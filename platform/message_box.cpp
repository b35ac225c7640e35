#include "platform/message_box.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/codepage.h"

namespace platform {
namespace {

// The Windows MB_ button sets and ID answers.
constexpr int kButtonSetMask = 0xF;
constexpr int kOkCancel = 0x1;
constexpr int kYesNo = 0x4;
constexpr int kAnswerOk = 1;
constexpr int kAnswerCancel = 2;
constexpr int kAnswerYes = 6;
constexpr int kAnswerNo = 7;

struct NamedAnswer {
  const char* name;
  int answer;
};
constexpr NamedAnswer kAnswerNames[] = {
    {"ok", kAnswerOk}, {"cancel", kAnswerCancel}, {"yes", kAnswerYes}, {"no", kAnswerNo}};

std::mutex& HandlerLock() {
  static std::mutex lock;
  return lock;
}

MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
}

const char* MessageLogPath() {
  const char* log = std::getenv(kMessageLogEnvironment);
  return log != nullptr && *log != '\0' ? log : nullptr;
}

std::string OneLine(const std::string& utf8) {
  std::string line;
  for (char c : utf8) {
    if (c == '\n') {
      line += "\\n";
    } else if (c != '\r') {
      line += c;
    }
  }
  return line;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The answer a test chose for a box of type, when the box has that button.
int LoggedAnswer(int type) {
  std::vector<int> buttons = MessageBoxButtons(type);
  const char* chosen = std::getenv(kMessageAnswerEnvironment);
  if (chosen == nullptr) return buttons.front();
  std::string name = Lower(chosen);
  for (const NamedAnswer& named : kAnswerNames) {
    if (name != named.name) continue;
    for (int button : buttons) {
      if (button == named.answer) return button;
    }
  }
  return buttons.front();
}

}  // namespace

void SetMessageBoxHandler(MessageBoxHandler handler) {
  std::lock_guard<std::mutex> hold(HandlerLock());
  Handler() = std::move(handler);
}

std::vector<int> MessageBoxButtons(int type) {
  switch (type & kButtonSetMask) {
    case kOkCancel:
      return {kAnswerOk, kAnswerCancel};
    case kYesNo:
      return {kAnswerYes, kAnswerNo};
    default:
      return {kAnswerOk};
  }
}

bool MessageLogIsSet() {
  return MessageLogPath() != nullptr;
}

int LoggedMessageAnswer(int type) {
  return LoggedAnswer(type);
}

void AppendMessageLog(const std::string& caption, const std::string& text) {
  const char* log = MessageLogPath();
  if (log == nullptr) return;
  static std::mutex file_lock;
  std::lock_guard<std::mutex> hold(file_lock);
  if (FILE* file = std::fopen(log, "a")) {
    std::fprintf(file, "%s\t%s\n", OneLine(GbkToUtf8(caption)).c_str(),
                 OneLine(GbkToUtf8(text)).c_str());
    std::fclose(file);
  }
}

int ShowMessageBox(uintptr_t parent, const std::string& text, const std::string& caption,
                   int type) {
  if (MessageLogPath() != nullptr) {
    AppendMessageLog(caption, text);
    return LoggedAnswer(type);
  }
  MessageBoxHandler handler;
  {
    std::lock_guard<std::mutex> hold(HandlerLock());
    handler = Handler();
  }
  if (handler) return handler(parent, text, caption, type);
  std::fprintf(stderr, "%s: %s\n", GbkToUtf8(caption).c_str(), GbkToUtf8(text).c_str());
  return MessageBoxButtons(type).front();
}

}  // namespace platform
