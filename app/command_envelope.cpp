#include "app/command_envelope.h"

#include <cstdio>
#include <system_error>

#include "config/program_paths.h"
#include "platform/codepage.h"
#include "platform/ini_file.h"
#include "util/gbk_json.h"

namespace {

constexpr const char* kHeaderMembers[] = {"Function", "Callback", "SessionID", "ID"};
constexpr const char* kReplyHeaderNames[] = {"Function", "Callback", "SessionID", "ID"};
constexpr const char* kNewWindowMembers[] = {"URL",  "ID",       "Session",
                                             "Show", "JS_Start", "JS_Inject"};
constexpr size_t kServerTextLimit = 99;

std::string StringValue(const cJSON* item) {
  return cJSON_IsString(item) && item->valuestring != nullptr ? item->valuestring : "";
}

}  // namespace

AppServerSettings ReadAppServerSettings(const std::string& ini_path) {
  AppServerSettings settings;
  settings.ui_use_file = !platform::GetPrivateProfileInt("system", "serverUI", 0, ini_path);
  settings.db_use_file = !platform::GetPrivateProfileInt("system", "serverdata", 1, ini_path);
  settings.port = platform::GetPrivateProfileInt("appserver", "port", 80, ini_path);
  settings.server = platform::GetPrivateProfileString("appserver", "Server", "127.0.0.1", ini_path)
                        .substr(0, kServerTextLimit);
  settings.uri = platform::GetPrivateProfileString("appserver", "uri", "/", ini_path)
                     .substr(0, kServerTextLimit);
  return settings;
}

std::string BuildStandardReply(const std::vector<std::string>& header, int code,
                               const std::string& message) {
  JsonPtr reply(cJSON_CreateObject());
  for (size_t i = 0; i < header.size() && i < std::size(kReplyHeaderNames); ++i) {
    cJSON_AddStringToObject(reply.get(), kReplyHeaderNames[i], header[i].c_str());
  }
  cJSON_AddStringToObject(reply.get(), "Return", std::to_string(code).c_str());
  cJSON_AddStringToObject(reply.get(), "Status", code == 0 ? "0" : "1");
  cJSON_AddStringToObject(reply.get(), "Message", message.c_str());
  return PrintGbkJson(reply.get());
}

CDialogIE_Interface::CDialogIE_Interface()
    : app_server_(ReadAppServerSettings(GetInstanceIniPath())) {}

CDialogIE_Interface::~CDialogIE_Interface() {
  std::lock_guard<std::mutex> hold(workers_lock_);
  for (std::thread& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
  workers_.clear();
}

void CDialogIE_Interface::PostScriptCall(const std::string& call_text) {
  command_queue_.PostScriptCall(call_text);
}

bool CDialogIE_Interface::OnCommand(std::string& reply, const std::string&, const cJSON*,
                                    const std::vector<std::string>&, int&, std::string&) {
  reply.clear();
  return false;
}

int CDialogIE_Interface::StartCommandWorker(const std::string& text, int exit_code,
                                            std::string& message) {
  try {
    std::lock_guard<std::mutex> hold(workers_lock_);
    // Earlier workers ended at once; joining them keeps the list short.
    for (std::thread& worker : workers_) {
      if (worker.joinable()) worker.join();
    }
    workers_.clear();
    workers_.emplace_back([copy = text, exit_code]() {
      // Nothing to do yet: the worker ends at once with its exit code.
      (void)copy;
      return exit_code;
    });
  } catch (const std::system_error& error) {
    char text_buffer[160];
    std::snprintf(text_buffer, sizeof text_buffer, kThreadFailedFormat, error.code().value());
    message = text_buffer;
    return kCommandThreadFailed;
  }
  return kCommandOk;
}

std::string CDialogIE_Interface::ExecuteCommand(const std::string& text) {
  std::string message;
  std::string reply;
  int code = kCommandOk;
  const std::string private_copy = text;
  std::vector<std::string> header;

  std::string rest;
  JsonPtr command = ParseGbkJson(private_copy, &rest);
  if (!command) {
    code = kCommandBadJson;
    message = std::string(kBadJsonMessage) + rest;
  } else {
    bool complete = true;
    for (const char* name : kHeaderMembers) {
      const cJSON* member = cJSON_GetObjectItem(command.get(), name);
      if (member == nullptr) {
        code = kCommandBadJson;
        message = std::string(kMissingMemberMessage) + name;
        complete = false;
        break;
      }
      header.push_back(StringValue(member));
    }
    const cJSON* para = nullptr;
    if (complete) {
      para = cJSON_GetObjectItem(command.get(), "Para");
      if (para == nullptr) {
        code = kCommandBadJson;
        message = std::string(kMissingMemberMessage) + "Para";
        complete = false;
      } else {
        header.emplace_back();
      }
    }
    if (complete) {
      const std::string& function = header[0];
      if (platform::GbkEqualsNoCase(function, "Authenticate")) {
        code = StartCommandWorker(private_copy, 99999, message);
      } else if (platform::GbkEqualsNoCase(function, "DBAccess")) {
        code = StartCommandWorker(private_copy, 9999, message);
      } else if (platform::GbkEqualsNoCase(function, "NewWindow")) {
        std::vector<std::string> values;
        for (const char* name : kNewWindowMembers) {
          const cJSON* member = cJSON_GetObjectItem(para, name);
          if (member == nullptr) {
            code = kCommandBadJson;
            message = std::string(kMissingMemberMessage) + name;
            break;
          }
          values.push_back(StringValue(member));
        }
        if (code == kCommandOk) command_queue_.PostOpenWindow(header, values);
      } else if (!OnCommand(reply, private_copy, command.get(), header, code, message)) {
        code = kCommandUnknownFunction;
        message = std::string(kUnknownFunctionMessage) + function;
      }
    }
  }
  command.reset();
  if (!reply.empty()) return reply;
  return BuildStandardReply(header, code, message);
}
