// Requests that any thread leaves for a browser window: open an address,
// call a page function, open a further window. The window's own thread takes
// them out one at a time on its command timer.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

enum PageCommandKind {
  kPageNavigate = 0,           // texts: [address]
  kPageCallByText = 1,         // texts: [call text "name(argument)" or "name"]
  kPageCallWithArguments = 2,  // texts: [function name, argument 1, ...]
  kPageOpenWindow = 3,         // texts: URL, ID, Session, Show, JS_Start, JS_Inject
};

struct PageCommand {
  int kind = kPageNavigate;
  // Open-window commands only: the header texts of the command that asked
  // for the window. Kept for the record; nothing reads them when it runs.
  std::vector<std::string> header;
  std::vector<std::string> texts;
};

class PageCommandQueue {
 public:
  // Every Post* appends at the end and returns at once; any thread.
  void PostNavigate(const std::string& address);
  void PostScriptCall(const std::string& call_text);
  void PostScriptCallArgs(const std::string& function_name,
                          const std::vector<std::string>& arguments);
  void PostOpenWindow(const std::vector<std::string>& header,
                      const std::vector<std::string>& values);

  // The first command, or null when the queue is empty. The caller owns it.
  std::unique_ptr<PageCommand> Take();

  size_t size() const;

 private:
  void Append(std::unique_ptr<PageCommand> command);

  mutable std::mutex lock_;
  std::deque<std::unique_ptr<PageCommand>> commands_;
};
