#include "app/tip_text.h"

#include <mutex>

namespace {

std::mutex tip_lock;
std::string tip_text;

}  // namespace

void SetTipText(const std::string& text) {
  std::lock_guard<std::mutex> guard(tip_lock);
  tip_text = text;
}

std::string TipText() {
  std::lock_guard<std::mutex> guard(tip_lock);
  return tip_text;
}
