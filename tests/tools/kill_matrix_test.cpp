// Kills and full disks over the book work and the configuration, as a matrix.
//
// Each operation of `tomerack-tool` (download, upgrade, uninstall, config
// set) first runs once counting its fault points. Then, on a fresh copy of
// the same program directory each time, it is killed at points spread over
// every phase, and run with a disk that fills up after several byte counts.
// After every case, and again after the next `books start`, nothing may be
// lost: records and Config.EF parse, Config.EF keeps its other entries, an
// installed book holds exactly its package's files, a book that is not
// installed has no install directory, no temporary files are left, and the
// start finishes what the killed run had recorded as begun.
//
// CI runs a reduced schedule; TOMERACK_KILL_MATRIX=full (bench/kill_matrix.sh)
// runs the whole one.
#include <gtest/gtest.h>
#include <strings.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "platform/fault_points.h"
#include "tests/support/demo_service_process.h"
#include "tests/support/fault_schedule.h"
#include "tests/support/run_command.h"
#include "tests/support/sandbox.h"
#include "util/json_tree.h"

namespace {

namespace fs = std::filesystem;
using testing_support::CommandResult;
using testing_support::DemoServiceProcess;
using testing_support::FaultPointLine;
using testing_support::RunCommand;

constexpr const char kUid[] = "u1";
constexpr const char kConfigKey[] = "matrix_key";

enum class Operation { kDownload, kUpgrade, kUninstall, kConfigSet };

struct OperationCase {
  Operation operation;
  const char* name;
  const char* bsid;
  const char* gid;
};

const OperationCase kOperations[] = {
    {Operation::kDownload, "download", "b1002", "g1002"},
    {Operation::kUpgrade, "upgrade", "b1001", "g1001"},
    {Operation::kUninstall, "uninstall", "b1003", "g1003"},
    {Operation::kConfigSet, "config set", "", ""},
};

bool FullSchedule() {
  const char* mode = std::getenv("TOMERACK_KILL_MATRIX");
  return mode && std::string(mode) == "full";
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Relative path -> content ("/" for a directory) of everything below root.
std::map<std::string, std::string> TreeOf(const std::string& root) {
  std::map<std::string, std::string> tree;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    std::string relative = fs::relative(it->path(), root).string();
    tree[relative] =
        it->is_directory() ? std::string("/") : testing_support::ReadBytes(it->path().string());
  }
  return tree;
}

struct BookState {
  bool has_record = false;
  int status = 0;
  std::string md5;
};

class KillMatrixTest : public testing_support::Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    setenv("TOMERACK_REGISTRY_DIR", Path("registry").c_str(), 1);
    ASSERT_TRUE(service_.Start(dir()));
  }
  void TearDown() override {
    unsetenv("TOMERACK_REGISTRY_DIR");
    Sandbox::TearDown();
  }

  CommandResult Tool(const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env = {}) {
    return RunCommand(TOMERACK_TOOL_PATH, args, {}, env);
  }
  CommandResult Books(const std::string& program, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env = {}) {
    std::vector<std::string> all = {"books", "--program-dir", program, "--uid", kUid};
    all.insert(all.end(), args.begin(), args.end());
    return Tool(all, env);
  }
  CommandResult RunOperation(const OperationCase& op, const std::string& program,
                             const std::map<std::string, std::string>& env = {}) {
    if (op.operation == Operation::kConfigSet) {
      return Tool({"config", "--program-dir", program, "set", kConfigKey, "value 2"}, env);
    }
    return Books(program, {op.name, op.bsid}, env);
  }

  static std::string InstallDir(const std::string& program, const std::string& gid) {
    return program + "/data/books/books/" + gid + "/" + gid;
  }
  static std::string PackageFile(const std::string& program, const std::string& gid) {
    return InstallDir(program, gid) + ".zip";
  }

  // The fields of a record that matter here, or nothing when it cannot be read.
  bool ReadRecord(const std::string& file, BookState& state) {
    CommandResult r = Tool({"unseal", "--record", file});
    if (r.exit_code != 0) return false;
    JsonPtr json = ParseJson(r.out);
    if (!cJSON_IsObject(json.get())) return false;
    const char* status = JsonStringMember(json.get(), "bookStatus");
    const char* md5 = JsonStringMember(json.get(), "bookMD5");
    if (!status || !md5) return false;
    state.has_record = true;
    state.status = std::atoi(status);
    state.md5 = Lower(md5);
    return true;
  }
  BookState Book(const std::string& program, const std::string& gid) {
    BookState state;
    ReadRecord(program + "/data/bookinf/" + gid + ".inf", state);
    return state;
  }
  std::string RecordField(const std::string& program, const std::string& gid, const char* key) {
    CommandResult r = Tool({"unseal", "--record", program + "/data/bookinf/" + gid + ".inf"});
    JsonPtr json = ParseJson(r.out);
    const char* value = JsonStringMember(json.get(), key);
    return value ? value : "";
  }
  // (Key, Value) of every SystemPara entry, or false when Config.EF is unusable.
  bool ConfigEntries(const std::string& program, std::map<std::string, std::string>& entries) {
    CommandResult r = Tool({"config", "--program-dir", program, "list"});
    if (r.exit_code != 0) return false;
    JsonPtr json = ParseJson(r.out);
    if (!cJSON_IsArray(json.get())) return false;
    const cJSON* entry = nullptr;
    cJSON_ArrayForEach(entry, json.get()) {
      const char* key = JsonStringMember(entry, "Key");
      const char* value = JsonStringMember(entry, "Value");
      if (key && value) entries[key] = value;
    }
    return true;
  }

  // Points the program directory at the service and synchronises it.
  void MakeProgram(const std::string& program) {
    auto entries = testing_support::DemoConfigEntries(service_);
    entries.emplace_back(kConfigKey, "value 1");
    for (const auto& [key, value] : entries) {
      CommandResult r = Tool({"config", "--program-dir", program, "set", key, value});
      ASSERT_EQ(r.exit_code, 0) << r.err;
    }
    CommandResult sync = Books(program, {"sync"});
    ASSERT_EQ(sync.exit_code, 0) << sync.err;
  }

  // The package the book's record names as newest, unpacked: what an
  // installed book of that digest must hold.
  void KeepReference(const std::string& program, const std::string& gid) {
    std::string id = RecordField(program, gid, "last_bookPackageID");
    std::string md5 = Lower(RecordField(program, gid, "last_bookMD5"));
    std::string zip = Path("ref-" + md5 + ".zip");
    CommandResult get = RunCommand(
        "/usr/bin/curl", {"-sf", "-o", zip, service_.Url("/data/books/" + gid + "/" + id + ".zip")});
    ASSERT_EQ(get.exit_code, 0);
    std::string unpacked = Path("ref-" + md5);
    CommandResult extract = Tool({"zip", "extract", zip, unpacked});
    ASSERT_EQ(extract.exit_code, 0) << extract.err;
    references_[md5] = TreeOf(unpacked);
    newest_[gid] = md5;
  }

  // The program directory each case of the operation starts from.
  void PrepareTemplate(const OperationCase& op, const std::string& program) {
    MakeProgram(program);
    if (op.operation == Operation::kConfigSet) {
      ASSERT_TRUE(ConfigEntries(program, config_before_));
      return;
    }
    KeepReference(program, op.gid);
    if (op.operation == Operation::kDownload) return;
    CommandResult download = Books(program, {"download", op.bsid});
    ASSERT_EQ(download.exit_code, 0) << download.err;
    if (op.operation == Operation::kUpgrade) {
      CommandResult publish =
          RunCommand("/usr/bin/curl", {"-sf", "-d", "", service_.Url("/demo/publish/" +
                                                                     std::string(op.gid))});
      ASSERT_EQ(publish.exit_code, 0);
      ASSERT_EQ(Books(program, {"sync"}).exit_code, 0);
      KeepReference(program, op.gid);
    }
    ASSERT_TRUE(ConfigEntries(program, config_before_));
  }

  // What is wrong with the program directory; strict after a start, when
  // nothing half-done may be left.
  std::vector<std::string> Problems(const OperationCase& op, const std::string& program,
                                    bool strict) {
    std::vector<std::string> problems;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(program, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
      std::string name = it->path().filename().string();
      std::string path = it->path().string();
      std::string ext = it->path().extension().string();
      if (ext == ".err") problems.push_back("damaged file set aside: " + path);
      if (ext == ".inf" || ext == ".lst") {
        CommandResult r = Tool({"unseal", "--record", path});
        BookState ignored;
        if (r.exit_code != 0 || (ext == ".inf" && !ReadRecord(path, ignored)))
          problems.push_back("unreadable " + path);
      }
      bool temporary = name.find(".tmp") != std::string::npos || ext == ".part" ||
                       ext == ".staging" || (ext == ".old" && it->is_directory());
      if (strict && temporary) problems.push_back("left over: " + path);
    }
    std::map<std::string, std::string> config;
    if (!ConfigEntries(program, config)) {
      problems.push_back("Config.EF unreadable");
    } else {
      for (const auto& [key, value] : config_before_) {
        auto found = config.find(key);
        bool kept = found != config.end() &&
                    (found->second == value || (key == kConfigKey && found->second == "value 2"));
        if (!kept) problems.push_back("Config.EF lost " + key);
      }
    }
    if (op.operation == Operation::kConfigSet) return problems;

    BookState book = Book(program, op.gid);
    std::string dir = InstallDir(program, op.gid);
    bool installed = book.has_record && book.status == 16;
    if (installed) {
      auto reference = references_.find(book.md5);
      if (reference == references_.end())
        problems.push_back("installed with an unknown digest " + book.md5);
      else if (TreeOf(dir) != reference->second)
        problems.push_back("installed book differs from its package");
    } else if (op.operation == Operation::kUpgrade && book.has_record) {
      // Cut short in the middle of an upgrade: the book is one edition or
      // the other, whole, and the old one until the record names the new.
      if (fs::exists(dir)) {
        auto tree = TreeOf(dir);
        auto old_edition = references_.find(book.md5);
        bool whole = (old_edition != references_.end() && tree == old_edition->second) ||
                     tree == references_[newest_[op.gid]];
        if (!whole) problems.push_back("install directory holds neither edition whole");
      } else if (!fs::exists(dir + ".old")) {
        problems.push_back("the installed edition is gone (status " +
                           std::to_string(book.status) + ")");
      }
    } else if (strict && fs::exists(dir)) {
      problems.push_back("install directory of a book not installed (status " +
                         std::to_string(book.status) + ")");
    }
    if (strict && installed && fs::exists(PackageFile(program, op.gid)))
      problems.push_back("package of an installed book left");
    return problems;
  }

  // What the operation must have come to after the next start, given the
  // record as the killed run left it.
  std::vector<std::string> Finished(const OperationCase& op, const std::string& program,
                                    const BookState& after_fault) {
    std::vector<std::string> problems;
    if (op.operation == Operation::kConfigSet) return problems;
    BookState book = Book(program, op.gid);
    bool begun = after_fault.has_record && (after_fault.status & (2 | 8));
    if (op.operation == Operation::kUninstall) {
      bool still_installed = after_fault.has_record && after_fault.status == 16;
      bool gone = !fs::exists(InstallDir(program, op.gid)) &&
                  !fs::exists(PackageFile(program, op.gid)) && book.status == 0;
      if (!still_installed && !gone) problems.push_back("uninstall not finished");
      return problems;
    }
    if (begun && !(book.status == 16 && book.md5 == newest_[op.gid]))
      problems.push_back("interrupted " + std::string(op.name) + " not finished (status " +
                         std::to_string(book.status) + ")");
    return problems;
  }

  // Runs the operation once more without faults; it must now succeed.
  std::vector<std::string> Redone(const OperationCase& op, const std::string& program) {
    std::vector<std::string> problems;
    CommandResult again = RunOperation(op, program);
    if (again.exit_code != 0) {
      // Work the faulted run, or the start after it, finished leaves
      // nothing to do: the newest package installed, or the book gone (its
      // record too, when the full disk kept the emptied record from being
      // saved).
      BookState book = Book(program, op.gid);
      bool done = op.operation == Operation::kUninstall
                      ? book.status == 0 && !fs::exists(InstallDir(program, op.gid))
                      : op.operation != Operation::kConfigSet && book.status == 16 &&
                            book.md5 == newest_[op.gid];
      if (!done) problems.push_back("the operation fails afterwards: " + again.err);
    }
    for (auto& p : Problems(op, program, true)) problems.push_back(p);
    if (op.operation == Operation::kConfigSet) {
      std::map<std::string, std::string> config;
      if (ConfigEntries(program, config) && config[kConfigKey] != "value 2")
        problems.push_back("value not set");
    }
    return problems;
  }

  // One case: a fresh copy of the template, the faulted run, the checks,
  // a start, the checks again. The phase the fault hit, and what went wrong.
  std::vector<std::string> RunCase(const OperationCase& op, const std::string& template_dir,
                                   const std::map<std::string, std::string>& fault,
                                   std::string& phase) {
    std::string program = Path("case");
    fs::remove_all(program);
    CommandResult copy = RunCommand("/bin/cp", {"-a", template_dir, program});
    EXPECT_EQ(copy.exit_code, 0);
    std::string points_file = Path("case-points.txt");
    fs::remove(points_file);
    std::map<std::string, std::string> env = fault;
    env[platform::kCountPointsEnvironment] = points_file;
    CommandResult run = RunOperation(op, program, env);

    std::vector<FaultPointLine> points =
        testing_support::ParseFaultPoints(testing_support::ReadBytes(points_file));
    bool killed = run.signal == SIGKILL;
    std::string install_dir = op.gid[0] ? InstallDir(program, op.gid) : std::string("-");
    phase = !killed ? "not reached"
            : points.empty()
                ? "start"
                : testing_support::PhaseOf(points.back(), install_dir,
                                           op.operation == Operation::kUninstall);
    if (fault.count(platform::kFailWritesAfterEnvironment)) phase = run.exit_code == 0 ? "ok" : "failed";

    std::vector<std::string> problems;
    for (auto& p : Problems(op, program, false)) problems.push_back("after the fault: " + p);
    // A run that says it set the value must have set it.
    if (op.operation == Operation::kConfigSet && run.exit_code == 0) {
      std::map<std::string, std::string> config;
      if (ConfigEntries(program, config) && config[kConfigKey] != "value 2")
        problems.push_back("config set succeeded but the value is not stored");
    }
    BookState after_fault = op.gid[0] ? Book(program, op.gid) : BookState{};

    CommandResult start = Books(program, {"start"});
    if (start.signal != 0) problems.push_back("start ended by a signal");
    for (auto& p : Problems(op, program, true)) problems.push_back("after the start: " + p);
    if (killed) {
      for (auto& p : Finished(op, program, after_fault)) problems.push_back(p);
    } else {
      for (auto& p : Redone(op, program)) problems.push_back("redone: " + p);
    }
    return problems;
  }

  DemoServiceProcess service_;
  std::map<std::string, std::map<std::string, std::string>> references_;  // md5 -> tree
  std::map<std::string, std::string> newest_;                             // gid -> md5
  std::map<std::string, std::string> config_before_;
};

TEST_F(KillMatrixTest, KillsAndFullDisksLoseNothing) {
  const bool full = FullSchedule();
  const size_t kills_per_phase = full ? 10 : 2;
  const size_t full_disk_cases = full ? 8 : 3;
  testing_support::FaultMatrix matrix;

  for (const OperationCase& op : kOperations) {
    SCOPED_TRACE(op.name);
    std::string template_dir = Path(std::string("template-") + op.name);
    template_dir.erase(std::remove(template_dir.begin(), template_dir.end(), ' '),
                       template_dir.end());
    PrepareTemplate(op, template_dir);
    if (HasFatalFailure()) return;

    // Counting run, on a copy.
    std::string counted = template_dir + "-counted";
    ASSERT_EQ(RunCommand("/bin/cp", {"-a", template_dir, counted}).exit_code, 0);
    std::string points_file = Path("count-points.txt");
    fs::remove(points_file);
    CommandResult count =
        RunOperation(op, counted, {{platform::kCountPointsEnvironment, points_file}});
    ASSERT_EQ(count.exit_code, 0) << count.err;
    std::vector<FaultPointLine> points =
        testing_support::ParseFaultPoints(testing_support::ReadBytes(points_file));
    ASSERT_FALSE(points.empty());
    std::string install_dir = op.gid[0] ? InstallDir(counted, op.gid) : std::string("-");
    bool uninstalling = op.operation == Operation::kUninstall;

    for (size_t at : testing_support::SpreadKillPoints(points, install_dir, uninstalling,
                                                       kills_per_phase)) {
      SCOPED_TRACE("killed at point " + std::to_string(at));
      std::string phase;
      auto problems =
          RunCase(op, template_dir, {{platform::kKillAtPointEnvironment, std::to_string(at)}},
                  phase);
      for (const auto& p : problems) {
        ADD_FAILURE() << phase << ": " << p;
      }
      matrix.Add(std::string("kill ") + op.name, phase, !problems.empty());
    }
    for (size_t bytes : testing_support::SpreadFullDiskBytes(points, install_dir, uninstalling,
                                                             full_disk_cases)) {
      SCOPED_TRACE("disk full after " + std::to_string(bytes) + " bytes");
      std::string phase;
      auto problems = RunCase(
          op, template_dir, {{platform::kFailWritesAfterEnvironment, std::to_string(bytes)}},
          phase);
      for (const auto& p : problems) {
        ADD_FAILURE() << phase << ": " << p;
      }
      matrix.Add(std::string("full disk ") + op.name, phase, !problems.empty());
    }
  }
  std::printf("%s", matrix.Print().c_str());
  EXPECT_EQ(matrix.Losses(), 0u);
  if (full) {
    EXPECT_GE(matrix.Cases("kill"), 50u);
  }
}

}  // namespace
