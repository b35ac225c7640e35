#include "browser/page_command.h"

void PageCommandQueue::Append(std::unique_ptr<PageCommand> command) {
  std::lock_guard<std::mutex> hold(lock_);
  commands_.push_back(std::move(command));
}

void PageCommandQueue::PostNavigate(const std::string& address) {
  auto command = std::make_unique<PageCommand>();
  command->kind = kPageNavigate;
  command->texts.push_back(address);
  Append(std::move(command));
}

void PageCommandQueue::PostScriptCall(const std::string& call_text) {
  auto command = std::make_unique<PageCommand>();
  command->kind = kPageCallByText;
  command->texts.push_back(call_text);
  Append(std::move(command));
}

void PageCommandQueue::PostScriptCallArgs(const std::string& function_name,
                                          const std::vector<std::string>& arguments) {
  auto command = std::make_unique<PageCommand>();
  command->kind = kPageCallWithArguments;
  command->texts.reserve(arguments.size() + 1);
  command->texts.push_back(function_name);
  command->texts.insert(command->texts.end(), arguments.begin(), arguments.end());
  Append(std::move(command));
}

void PageCommandQueue::PostOpenWindow(const std::vector<std::string>& header,
                                      const std::vector<std::string>& values) {
  auto command = std::make_unique<PageCommand>();
  command->kind = kPageOpenWindow;
  command->header = header;
  command->texts = values;
  Append(std::move(command));
}

std::unique_ptr<PageCommand> PageCommandQueue::Take() {
  std::lock_guard<std::mutex> hold(lock_);
  if (commands_.empty()) return nullptr;
  std::unique_ptr<PageCommand> first = std::move(commands_.front());
  commands_.pop_front();
  return first;
}

size_t PageCommandQueue::size() const {
  std::lock_guard<std::mutex> hold(lock_);
  return commands_.size();
}
