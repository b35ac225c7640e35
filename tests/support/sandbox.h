// Test helpers shared by every suite.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

namespace testing_support {

// A fresh temporary directory, removed with everything in it when the
// fixture ends. Paths are UTF-8, which equals GBK for the ASCII names the
// sandbox uses.
class Sandbox : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const std::string& dir() const { return dir_; }
  // dir() + "/" + relative
  std::string Path(const std::string& relative) const;
  void WriteFile(const std::string& relative, const std::string& content) const;
  std::string ReadFile(const std::string& relative) const;
  bool Exists(const std::string& relative) const;

 private:
  std::string dir_;
};

// Polls predicate every few milliseconds until it holds or timeout passes.
bool WaitFor(const std::function<bool()>& predicate,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Whole-file helpers on UTF-8 paths, for test set-up without the code under test.
void WriteBytes(const std::string& path, const std::string& content);
std::string ReadBytes(const std::string& path);

}  // namespace testing_support
