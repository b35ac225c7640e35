#include "tests/gui/gui_fixture.h"

#include <dirent.h>
#include <sys/stat.h>

#include <sstream>

#include "browser/gui_sanitizer_defaults.h"

namespace testing_support {

// One private X server for the whole test program, whatever it runs.
::testing::Environment* const g_xvfb =
    ::testing::AddGlobalTestEnvironment(new XvfbEnvironment);

const char GuiFixture::kReportScript[] = R"JS(
function report(key, value) { window.external.AppInterface_log('R:' + key + '=' + value); }
function finish() { report('done', '1'); window.external.QuitApp(); }
)JS";

void GuiFixture::SetUp() {
  ProgramDirSandbox::SetUp();
  WriteFile("DTM/t/report.js", kReportScript);
}

CommandResult GuiFixture::RunClient(const std::string& start_page, const std::string& extra_ini,
                                    const std::map<std::string, std::string>& extra_environment) {
  WriteFile("system/tomerack.ini", "[system]\nstartpage=" + start_page + "\n" + extra_ini);
  // The instance lock lives in the runtime directory, which must be private.
  WriteFile("run/.keep", "");
  chmod(Path("run").c_str(), 0700);
  std::map<std::string, std::string> environment = {
      {"TOMERACK_PROGRAM_DIR", dir()},
      {"TOMERACK_REGISTRY_DIR", Path("registry")},
      {"TOMERACK_MESSAGE_LOG", Path("messages.txt")},
      {"XDG_RUNTIME_DIR", Path("run")}};
  for (const auto& [name, value] : extra_environment) environment[name] = value;
  return RunCommand("/usr/bin/timeout", {"60", TOMERACK_CLIENT_PATH}, "", environment);
}

namespace {

std::vector<std::pair<std::string, std::string>> ReadReports(const std::string& log_dir) {
  std::vector<std::pair<std::string, std::string>> reports;
  DIR* dir = ::opendir(log_dir.c_str());
  if (dir == nullptr) return reports;
  std::vector<std::string> files;
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name.rfind("log", 0) == 0) files.push_back(log_dir + "/" + name);
  }
  ::closedir(dir);
  std::sort(files.begin(), files.end());
  for (const std::string& file : files) {
    std::istringstream lines(ReadBytes(file));
    std::string line;
    while (std::getline(lines, line)) {
      size_t at = line.find(" : R:");
      if (at == std::string::npos) continue;
      std::string report = line.substr(at + 5);
      if (!report.empty() && report.back() == '\r') report.pop_back();
      size_t equals = report.find('=');
      if (equals == std::string::npos) continue;
      reports.emplace_back(report.substr(0, equals), report.substr(equals + 1));
    }
  }
  return reports;
}

}  // namespace

std::map<std::string, std::string> GuiFixture::Reports() const {
  std::map<std::string, std::string> map;
  for (auto& [key, value] : ReadReports(Path("log"))) map[key] = value;
  return map;
}

std::vector<std::string> GuiFixture::ReportOrder() const {
  std::vector<std::string> order;
  for (auto& [key, value] : ReadReports(Path("log"))) order.push_back(key);
  return order;
}

}  // namespace testing_support
