#include "config/server_probe.h"

#include <vector>

#include "app/config_file.h"
#include "config/parameter_store.h"
#include "config/program_paths.h"
#include "net/request_helpers.h"
#include "util/file_io.h"
#include "util/path_names.h"
#include "util/string_split.h"

namespace {

constexpr size_t kEntryFields = 5;

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  size_t at = 0;
  while ((at = AnsiFind(text, from, at)) != std::string::npos) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

void StoreServerList(const std::string& list) {
  SetConfigPara(GetConfigFilePath(), "serverlist", list);
  SetParameter("serverlist", list);
}

}  // namespace

ServerProber::~ServerProber() {
  Stop();
}

std::string ServerProber::ListFilePath() {
  return JoinPath(GetSystemDirectoryPath(), kListFile);
}

void ServerProber::Start(const std::string& list_urls) {
  if (running_.exchange(true)) return;
  std::lock_guard<std::mutex> hold(thread_lock_);
  // The last probe has cleared the running flag as its final step, so this
  // join returns at once.
  if (thread_.joinable()) thread_.join();
  stop_flag_ = false;
  stop_event_.Reset();
  thread_count_.fetch_add(1);
  thread_ = std::thread(&ServerProber::Probe, this, list_urls);
}

void ServerProber::Stop() {
  stop_flag_ = true;
  stop_event_.Set();
  std::lock_guard<std::mutex> hold(thread_lock_);
  if (thread_.joinable()) thread_.join();
}

void ServerProber::Probe(std::string list_urls) {
  const std::string list_file = ListFilePath();
  CreateParentDirectories(list_file);

  std::vector<std::string> urls;
  (void)SplitString(urls, ";", list_urls, true);
  bool fetched = false;
  std::string list;
  for (const std::string& url : urls) {
    if (stop_flag_) break;
    std::string body;
    if (HttpGetToFile(&stop_event_, false, &body, nullptr, list_file, nullptr, url) == kHttpOk) {
      list = body;
      fetched = true;
      break;
    }
  }

  if (fetched && !stop_flag_) {
    // Stored even when empty: an answer that is not text gives an empty list.
    StoreServerList(list);
    std::string test_url = GetParameter("url_testServer");
    if (!test_url.empty()) {
      std::vector<std::string> entries;
      (void)SplitString(entries, ";", list, false);
      std::string tested;
      for (const std::string& entry : entries) {
        if (stop_flag_) break;
        std::vector<std::string> fields;
        (void)SplitString(fields, "#", entry, false);
        if (fields.size() < kEntryFields) continue;
        std::string answer;
        if (HttpGetToFile(&stop_event_, false, &answer, nullptr, {}, nullptr,
                          ReplaceAll(test_url, "$SERVER$", fields[4])) != kHttpOk) {
          continue;
        }
        if (!tested.empty()) tested += ";";
        tested += fields[0] + "#" + fields[1] + "#" + fields[2] + "#" + fields[3] + "#" + fields[4];
      }
      // Kept only when an "app" and a "dat" server survived (a plain text
      // test), and never cut short by a stop, which would drop the servers
      // not yet tested.
      if (!stop_flag_ && tested.find("app") != std::string::npos &&
          tested.find("dat") != std::string::npos) {
        StoreServerList(tested);
      }
    }
  }
  thread_count_.fetch_sub(1);
  running_ = false;
}
