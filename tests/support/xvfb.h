// A private X server for tests that open windows: started once for the test
// program, DISPLAY pointed at it, stopped at the end.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace testing_support {

class XvfbEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
  const std::string& display() const { return display_; }

 private:
  int pid_ = -1;
  std::string display_;
};

}  // namespace testing_support
