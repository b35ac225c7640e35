// A client's program directory in a sandbox, worked on by the admin tool as
// a process, with the demo service as the book service: what the tests of
// `tomerack-tool books` share.
#pragma once

#include <stdlib.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/process.h"
#include "tests/support/demo_service_process.h"
#include "tests/support/run_command.h"
#include "tests/support/sandbox.h"

namespace testing_support {

class BooksToolSandbox : public Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    program_ = Path("program");
    setenv("TOMERACK_REGISTRY_DIR", Path("registry").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("TOMERACK_REGISTRY_DIR");
    Sandbox::TearDown();
  }

  // Starts a demo service and points the program directory's Config.EF at
  // it, as an administrator would.
  void Serve(DemoServiceProcess& service, std::vector<std::string> options = {}) {
    ASSERT_TRUE(service.Start(dir(), std::move(options)));
    for (const auto& [key, value] : DemoConfigEntries(service)) {
      CommandResult r = Tool({"config", "--program-dir", program_, "set", key, value});
      ASSERT_EQ(r.exit_code, 0) << r.err;
    }
  }

  CommandResult Tool(const std::vector<std::string>& args) {
    return RunCommand(TOMERACK_TOOL_PATH, args);
  }
  // `books` on the program directory for user u1.
  std::vector<std::string> BooksArguments(const std::vector<std::string>& args) const {
    std::vector<std::string> all = {"books", "--program-dir", program_, "--uid", "u1"};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }
  CommandResult Books(const std::vector<std::string>& args) { return Tool(BooksArguments(args)); }
  platform::ProcessHandle StartBooks(const std::vector<std::string>& args) {
    return platform::StartProcess(TOMERACK_TOOL_PATH, BooksArguments(args), dir());
  }

  std::string PackagePath(const std::string& gid) const { return InstallDir(gid) + ".zip"; }
  std::string InstallDir(const std::string& gid) const {
    return program_ + "/data/books/books/" + gid + "/" + gid;
  }

  std::string program_;
};

}  // namespace testing_support
