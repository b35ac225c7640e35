// The program's main window: a browser window that answers the page's own
// commands. For now it knows "Bounce"; the bookshelf's commands come with
// the book collection.
#pragma once

#include "browser/dialog_ie.h"

class CDialog_TomeRack : public CDialogIE {
 public:
  bool OnCommand(std::string& reply, const std::string& command_text, const cJSON* command,
                 const std::vector<std::string>& header, int& code, std::string& message) override;
};
