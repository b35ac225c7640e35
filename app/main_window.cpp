#include "app/main_window.h"

#include "platform/codepage.h"

bool CDialog_TomeRack::OnCommand(std::string& reply, const std::string&, const cJSON*,
                                 const std::vector<std::string>& header, int& code, std::string&) {
  reply.clear();
  if (header.empty()) return false;
  if (platform::GbkEqualsNoCase(header[0], "Bounce")) {
    // The page gets its own call text back, on a later tick.
    PostScriptCall(header.size() > 1 ? header[1] : "");
    code = 0;
    return true;
  }
  return false;
}
