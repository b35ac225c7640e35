// A program directory of its own for each browser-window test, with scripted
// native parts.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "browser/window_frame.h"
#include "config/program_paths.h"
#include "tests/browser/scripted_window.h"
#include "tests/support/program_dir.h"
#include "util/file_io.h"

namespace testing_support {

class BrowserFixture : public ProgramDirSandbox {
 protected:
  void SetUp() override {
    ProgramDirSandbox::SetUp();
    SetWindowFrameFactory(&factory_);
  }
  void TearDown() override {
    SetWindowFrameFactory(nullptr);
    ProgramDirSandbox::TearDown();
  }
  void WriteInstanceIni(const std::string& text) {
    ASSERT_TRUE(CreateParentDirectories(GetInstanceIniPath()));
    ASSERT_TRUE(WriteWholeFile(text.data(), text.size(), GetInstanceIniPath()));
  }

  ScriptedFrameFactory factory_;
};

}  // namespace testing_support
