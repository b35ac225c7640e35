// The JSON command envelope that every browser window answers through its
// page method "AppInterface": parsing, the functions every window knows
// ("Authenticate", "DBAccess", "NewWindow"), the hand-over of all others to
// the window's OnCommand, and the standard reply.
#pragma once

#include <cJSON.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "browser/page_command.h"

inline constexpr int kCommandOk = 0;
inline constexpr int kCommandBadJson = 1002000;
inline constexpr int kCommandUnknownFunction = 2002000;
inline constexpr int kCommandThreadFailed = 1001000;

inline constexpr const char kBadJsonMessage[] = "JSON格式有错:";
inline constexpr const char kMissingMemberMessage[] = "缺关键字: ";
inline constexpr const char kUnknownFunctionMessage[] = "DesktopApp undefined Function:";
inline constexpr const char kThreadFailedFormat[] =
    "System error when create thread,GetLastError() return %d)";

// The command interface of a window.
class Command_JS {
 public:
  virtual ~Command_JS() = default;
  // Queues a page call given as "name(argument)" or "name".
  virtual void PostScriptCall(const std::string& call_text) = 0;
  // Runs a function the dispatcher does not know itself; false when this
  // handler does not know it either. The tree's names and strings are GBK.
  // A non-empty reply is returned to the page as it stands.
  virtual bool OnCommand(std::string& reply, const std::string& command_text, const cJSON* command,
                         const std::vector<std::string>& header, int& code,
                         std::string& message) = 0;
};

// The application-server settings of the instance INI file, published to
// pages as environment values.
struct AppServerSettings {
  int ui_use_file = 1;  // !serverUI
  int db_use_file = 0;  // !serverdata
  int port = 80;
  std::string server = "127.0.0.1";
  std::string uri = "/";
};

// Reads [system] serverUI, serverdata and [appserver] port, Server, uri.
AppServerSettings ReadAppServerSettings(const std::string& ini_path);

class CDialogIE_Interface : public Command_JS {
 public:
  CDialogIE_Interface();
  ~CDialogIE_Interface() override;
  CDialogIE_Interface(const CDialogIE_Interface&) = delete;
  CDialogIE_Interface& operator=(const CDialogIE_Interface&) = delete;

  // Parses and routes one command text (GBK); returns the reply text (GBK).
  std::string ExecuteCommand(const std::string& text);

  void PostScriptCall(const std::string& call_text) override;
  bool OnCommand(std::string& reply, const std::string& command_text, const cJSON* command,
                 const std::vector<std::string>& header, int& code, std::string& message) override;

  PageCommandQueue& command_queue() { return command_queue_; }
  const AppServerSettings& app_server() const { return app_server_; }

 private:
  // "Authenticate" and "DBAccess" start a worker that has nothing to do yet
  // and ends at once; the window joins it when it goes.
  int StartCommandWorker(const std::string& text, int exit_code, std::string& message);

  PageCommandQueue command_queue_;
  std::mutex workers_lock_;
  std::vector<std::thread> workers_;
  AppServerSettings app_server_;
};

// The standard reply: the header texts read so far, "Return", "Status",
// "Message", printed formatted.
std::string BuildStandardReply(const std::vector<std::string>& header, int code,
                               const std::string& message);
