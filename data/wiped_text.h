// Wiping texts that must not linger in memory once used (connection
// strings may carry passwords).
#pragma once

#include <string>

// Overwrites every byte of text, then empties it.
void WipeText(std::string& text);

// Holds a text and wipes it when it goes out of scope.
class WipedOnExit {
 public:
  explicit WipedOnExit(std::string& text) : text_(text) {}
  ~WipedOnExit() { WipeText(text_); }
  WipedOnExit(const WipedOnExit&) = delete;
  WipedOnExit& operator=(const WipedOnExit&) = delete;

 private:
  std::string& text_;
};
