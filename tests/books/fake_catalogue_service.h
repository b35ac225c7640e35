// A catalogue service inside the test process, for answers the demo service
// does not give: digests with line ends, missing covers, blocked replies.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/config_key.h"
#include "books/book_collection.h"
#include "config/parameter_store.h"
#include "tests/support/loopback_server.h"
#include "tests/support/program_dir.h"

namespace testing_support {

inline const std::string kFakeDigest = "0123456789abcdef0123456789ABCDEF";

// A catalogue reply for user u1 with one row per gid (title "title of
// <gid>" unless given); covers at images/<gid>.png, packages at
// books/<gid>.zip.
inline std::string CatalogueReplyFor(const std::vector<std::string>& gids,
                                     const std::string& title_utf8 = {}) {
  std::string data;
  for (const std::string& gid : gids) {
    std::string title = title_utf8.empty() ? "title of " + gid : title_utf8;
    const std::string cells[] = {"bs-" + gid, gid, title, "images/" + gid + ".png",
                                 "",          "",  "",    "books/" + gid + ".zip",
                                 "reader.sh"};
    for (const std::string& cell : cells) data += (data.empty() ? "\"" : ",\"") + cell + "\"";
  }
  return "{\"Return\":\"0\",\"UID\":\"u1\",\"Para\":{\"Rows\":\"" + std::to_string(gids.size()) +
         "\",\"Columns\":\"9\",\"ColumnName\":[\"bsid\",\"gid\",\"fullName\",\"baseImage\","
         "\"insallPara\",\"launchPara\",\"bookMD5\",\"bookPath\",\"bookReader\"],\"Data\":[" +
         data + "]}}";
}

class FakeCatalogueService {
 public:
  FakeCatalogueService() {
    auto& s = server_.server();
    // Recorded before the answer goes out, so that a request is seen as soon
    // as the client has its answer (the server's logger runs after sending).
    // Bodies are not read yet here.
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
      LoopbackServer::Request seen{req.method, req.path, {}, req.headers, req.body};
      for (const auto& [name, value] : req.params) seen.query_time += name + "=" + value + ";";
      std::lock_guard<std::mutex> hold(lock_);
      requests_.push_back(std::move(seen));
      return httplib::Server::HandlerResponse::Unhandled;
    });
    s.Post("/api/tomerack", [this](const httplib::Request& req, httplib::Response& res) {
      std::unique_lock<std::mutex> hold(lock_);
      ++catalogue_requests_;
      catalogue_body_ = req.body;
      changed_.notify_all();
      changed_.wait(hold, [this] { return !hold_catalogue_; });
      res.set_content(catalogue_reply_, "application/json; charset=utf-8");
    });
    s.Get(R"(/data/images/.*)", [this](const httplib::Request&, httplib::Response& res) {
      std::function<void()> hook;
      bool ok;
      {
        std::lock_guard<std::mutex> hold(lock_);
        hook = on_cover_;
        ok = covers_ok_;
      }
      if (hook) hook();
      if (!ok) {
        res.status = 404;
        return;
      }
      res.set_content("cover bytes", "image/png");
    });
    s.Get(R"(/data/books/.*\.zip\.MD5)", [this](const httplib::Request&, httplib::Response& res) {
      std::lock_guard<std::mutex> hold(lock_);
      if (digest_status_ != 200) {
        res.status = digest_status_;
        return;
      }
      res.set_content(digest_body_, "text/plain");
    });
    server_.Start();
  }

  // A held request is let go, or stopping the server would wait for it.
  ~FakeCatalogueService() {
    HoldCatalogue(false);
    server_.Stop();
  }
  FakeCatalogueService(const FakeCatalogueService&) = delete;
  FakeCatalogueService& operator=(const FakeCatalogueService&) = delete;

  LoopbackServer& server() { return server_; }

  void SetCatalogueReply(const std::string& reply) {
    std::lock_guard<std::mutex> hold(lock_);
    catalogue_reply_ = reply;
  }
  void SetCoversOk(bool ok) {
    std::lock_guard<std::mutex> hold(lock_);
    covers_ok_ = ok;
  }
  void SetOnCover(std::function<void()> hook) {
    std::lock_guard<std::mutex> hold(lock_);
    on_cover_ = std::move(hook);
  }
  void SetDigest(const std::string& body, int status = 200) {
    std::lock_guard<std::mutex> hold(lock_);
    digest_body_ = body;
    digest_status_ = status;
  }

  // While held, catalogue requests wait in the handler.
  void HoldCatalogue(bool hold_it) {
    std::lock_guard<std::mutex> hold(lock_);
    hold_catalogue_ = hold_it;
    changed_.notify_all();
  }
  // False when they did not come within a minute.
  bool WaitForCatalogueRequests(int count) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(60),
                             [&] { return catalogue_requests_ >= count; });
  }
  std::string CatalogueBody() {
    std::lock_guard<std::mutex> hold(lock_);
    return catalogue_body_;
  }
  int CatalogueRequests() {
    std::lock_guard<std::mutex> hold(lock_);
    return catalogue_requests_;
  }

  std::vector<LoopbackServer::Request> Requests() {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
  }
  size_t CountPrefix(const std::string& prefix) {
    size_t count = 0;
    for (const auto& r : Requests()) count += r.path.rfind(prefix, 0) == 0 ? 1 : 0;
    return count;
  }

 private:
  LoopbackServer server_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::string catalogue_reply_ = CatalogueReplyFor({"g1"});
  bool covers_ok_ = true;
  std::function<void()> on_cover_;
  std::string digest_body_ = kFakeDigest;
  int digest_status_ = 200;
  bool hold_catalogue_ = false;
  int catalogue_requests_ = 0;
  std::vector<LoopbackServer::Request> requests_;
  std::string catalogue_body_;
};

// A program directory, a collection for user u1 and the parameters that
// point every address at the fake service.
class FakeServiceSandbox : public ProgramDirSandbox {
 protected:
  void SetUp() override {
    ProgramDirSandbox::SetUp();
    BuildConfigKey();
    std::string host = service_.server().Host();
    SetParameter("serverlist", "app#f#1#1#" + host + ";dat#f#1#1#" + host + ";cor#f#1#1#" + host);
    SetParameter("wwwhome_data", "http://$SERVER_DATA$/data/");
    // Configured complete: placeholders are completed only in the wwwhome
    // family of addresses.
    SetParameter("url_getTomeRack", service_.server().Url("/api/tomerack"));
    SetParameter("wwwhome_app", "http://$SERVER$/");
    SetParameter("_CONFIG_EF_token", "tok");
    collection_ = std::make_unique<BookCollection>();
    collection_->SetUser("u1", "s1", "name", "pw");
  }
  void TearDown() override {
    collection_.reset();
    SetApplicationExiting(false);
    ProgramDirSandbox::TearDown();
  }

  FakeCatalogueService service_;
  std::unique_ptr<BookCollection> collection_;
};

}  // namespace testing_support
