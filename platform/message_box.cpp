#include "platform/message_box.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/codepage.h"

namespace platform {
namespace {

constexpr int kAnswerOk = 1;

std::mutex& HandlerLock() {
  static std::mutex lock;
  return lock;
}

MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
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

}  // namespace

void SetMessageBoxHandler(MessageBoxHandler handler) {
  std::lock_guard<std::mutex> hold(HandlerLock());
  Handler() = std::move(handler);
}

int ShowMessageBox(uintptr_t parent, const std::string& text, const std::string& caption,
                   int type) {
  if (const char* log = std::getenv(kMessageLogEnvironment); log != nullptr && *log != '\0') {
    static std::mutex file_lock;
    std::lock_guard<std::mutex> hold(file_lock);
    if (FILE* file = std::fopen(log, "a")) {
      std::fprintf(file, "%s\t%s\n", OneLine(GbkToUtf8(caption)).c_str(),
                   OneLine(GbkToUtf8(text)).c_str());
      std::fclose(file);
    }
    return kAnswerOk;
  }
  MessageBoxHandler handler;
  {
    std::lock_guard<std::mutex> hold(HandlerLock());
    handler = Handler();
  }
  if (handler) return handler(parent, text, caption, type);
  std::fprintf(stderr, "%s: %s\n", GbkToUtf8(caption).c_str(), GbkToUtf8(text).c_str());
  return kAnswerOk;
}

}  // namespace platform
