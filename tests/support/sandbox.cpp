#include "tests/support/sandbox.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace testing_support {

void Sandbox::SetUp() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "tomerack-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
  dir_ = tmpl;
}

void Sandbox::TearDown() {
  if (dir_.empty()) return;
  std::error_code ec;
  // Read-only files and folders made by a test must not keep the tree alive.
  for (auto it = std::filesystem::recursive_directory_iterator(dir_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(dir_, ec);
}

std::string Sandbox::Path(const std::string& relative) const {
  return dir_ + "/" + relative;
}

void Sandbox::WriteFile(const std::string& relative, const std::string& content) const {
  std::filesystem::path p = Path(relative);
  std::filesystem::create_directories(p.parent_path());
  WriteBytes(p.string(), content);
}

std::string Sandbox::ReadFile(const std::string& relative) const {
  return ReadBytes(Path(relative));
}

bool Sandbox::Exists(const std::string& relative) const {
  return std::filesystem::exists(Path(relative));
}

bool WaitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    if (predicate()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return predicate();
}

void WriteBytes(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace testing_support
