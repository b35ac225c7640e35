#include "demo/demo_service.h"

#include <cJSON.h>
#include <fcntl.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <thread>

#include "demo/demo_books.h"
#include "demo/demo_login.h"
#include "demo/demo_pace.h"
#include "demo/demo_range.h"
#include "demo/demo_upgrade.h"
#include "demo/demo_users.h"
#include "util/md5.h"

namespace {

constexpr size_t kPiece = 256 * 1024;
// Pieces of a transfer held to a rate: small, so that it flows evenly.
constexpr size_t kPacedPiece = 64 * 1024;
constexpr size_t kMostLoginBody = 64 * 1024;
constexpr char kExtraGid[] = "g1900";

// Bytes served with ranges: a book package or the generated big file.
class Blob {
 public:
  virtual ~Blob() = default;
  virtual uint64_t size() const = 0;
  virtual void Copy(uint64_t offset, size_t count, char* out) const = 0;
};

class StringBlob : public Blob {
 public:
  explicit StringBlob(std::string data) : data_(std::move(data)) {}
  uint64_t size() const override { return data_.size(); }
  void Copy(uint64_t offset, size_t count, char* out) const override {
    std::memcpy(out, data_.data() + offset, count);
  }

 private:
  std::string data_;
};

// A package on disk, read where it is asked for.
class FileBlob : public Blob {
 public:
  FileBlob(int fd, uint64_t size) : fd_(fd), size_(size) {}
  ~FileBlob() override { ::close(fd_); }
  uint64_t size() const override { return size_; }
  void Copy(uint64_t offset, size_t count, char* out) const override {
    while (count > 0) {
      ssize_t got = ::pread(fd_, out, count, static_cast<off_t>(offset));
      if (got <= 0) {
        std::memset(out, 0, count);  // the file shrank: the digest check will notice
        return;
      }
      out += got;
      offset += static_cast<uint64_t>(got);
      count -= static_cast<size_t>(got);
    }
  }

 private:
  int fd_;
  uint64_t size_;
};

// A pseudo-random mebibyte repeated: cheap to serve at any size.
class PatternBlob : public Blob {
 public:
  explicit PatternBlob(uint64_t size) : size_(size), block_(1 << 20, '\0') {
    uint32_t x = 2463534242u;
    for (char& c : block_) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      c = static_cast<char>(x & 0xff);
    }
  }
  uint64_t size() const override { return size_; }
  void Copy(uint64_t offset, size_t count, char* out) const override {
    while (count > 0) {
      size_t at = static_cast<size_t>(offset % block_.size());
      size_t n = std::min(count, block_.size() - at);
      std::memcpy(out, block_.data() + at, n);
      out += n;
      offset += n;
      count -= n;
    }
  }

 private:
  uint64_t size_;
  std::string block_;
};

struct JsonFree {
  void operator()(cJSON* json) const { cJSON_Delete(json); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonFree>;

std::string PrintCompact(cJSON* json) {
  char* text = cJSON_PrintUnformatted(json);
  std::string out = text != nullptr ? text : "";
  cJSON_free(text);
  return out;
}

class DemoService {
 public:
  explicit DemoService(const DemoOptions& options) : options_(options), books_(MakeDemoBooks()) {
    for (DemoBook& book : books_) {
      packages_[book.gid] = std::make_shared<StringBlob>(std::move(book.package));
      book.package.clear();
    }
    if (options_.big_file_mib > 0) {
      big_ = std::make_shared<PatternBlob>(static_cast<uint64_t>(options_.big_file_mib) << 20);
    }
  }

  int Run() {
    if (!options_.extra_package.empty() && !AddExtraPackage()) {
      std::fprintf(stderr, "tomerack-demo-service: cannot read %s\n",
                   options_.extra_package.c_str());
      return 1;
    }
    // Before the port file: whoever waits for it reads the public key next.
    std::string error;
    if (!PrepareDemoUpgrade(options_.version, options_.upgrade_key, options_.upgrade_public_key,
                            upgrade_, error)) {
      std::fprintf(stderr, "tomerack-demo-service: %s\n", error.c_str());
      return 1;
    }
    server_.new_task_queue = [] { return new httplib::ThreadPool(8); };
    server_.set_keep_alive_max_count(100);
    Routes();
    port_ = options_.port == 0
                ? server_.bind_to_any_port("127.0.0.1")
                : (server_.bind_to_port("127.0.0.1", options_.port) ? options_.port : -1);
    if (port_ <= 0) {
      std::fprintf(stderr, "tomerack-demo-service: cannot listen on 127.0.0.1:%d\n", options_.port);
      return 1;
    }
    self_ = "127.0.0.1:" + std::to_string(port_);
    if (!options_.port_file.empty() && !WritePortFile()) {
      std::fprintf(stderr, "tomerack-demo-service: cannot write %s\n", options_.port_file.c_str());
      return 1;
    }
    std::printf("tomerack-demo-service listening on http://%s/ (stops after %d s)\n", self_.c_str(),
                options_.stop_after_seconds);
    std::fflush(stdout);

    std::thread stopper([this] {
      std::unique_lock<std::mutex> hold(stop_lock_);
      stop_changed_.wait_for(hold, std::chrono::seconds(options_.stop_after_seconds),
                             [this] { return listen_ended_; });
      server_.stop();
    });
    bool listened = server_.listen_after_bind();
    {
      std::lock_guard<std::mutex> hold(stop_lock_);
      listen_ended_ = true;
    }
    stop_changed_.notify_all();
    stopper.join();
    return listened ? 0 : 1;
  }

 private:
  bool WritePortFile() const {
    std::string temp = options_.port_file + ".tmp";
    {
      std::ofstream out(temp, std::ios::trunc);
      out << port_ << "\n";
      if (!out) return false;
    }
    return std::rename(temp.c_str(), options_.port_file.c_str()) == 0;
  }

  // The file given with --extra-package becomes one more book, g1900.
  bool AddExtraPackage() {
    int fd = ::open(options_.extra_package.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    if (::fstat(fd, &info) != 0) {
      ::close(fd);
      return false;
    }
    DemoBook book;
    book.bsid = "b1900";
    book.gid = kExtraGid;
    book.title_utf8 = reinterpret_cast<const char*>(u8"大容量 教材 样例");
    book.base_image = "images/" + book.gid + ".png";
    book.book_path = "books/" + book.gid + "/" + book.gid + ".zip";
    book.reader = "tomereader";
    book.cover_png = MakeSolidPng(48, 64, 0x777777);
    MD5Computer md5;
    if (!md5.FileMD5(book.digest, options_.extra_package)) {
      ::close(fd);
      return false;
    }
    std::lock_guard<std::mutex> hold(books_lock_);
    packages_[book.gid] = std::make_shared<FileBlob>(fd, static_cast<uint64_t>(info.st_size));
    books_.push_back(std::move(book));
    return true;
  }

  // A newer edition of a generated book: new package bytes, new digest.
  bool Publish(const std::string& gid, std::string& digest) {
    std::lock_guard<std::mutex> hold(books_lock_);
    for (DemoBook& book : books_) {
      if (book.gid != gid || book.media_size == 0) continue;
      PublishEdition(book, book.edition + 1);
      packages_[gid] = std::make_shared<StringBlob>(std::move(book.package));
      book.package.clear();
      digest = book.digest;
      return true;
    }
    return false;
  }

  std::shared_ptr<Blob> Package(const std::string& gid) {
    std::lock_guard<std::mutex> hold(books_lock_);
    auto found = packages_.find(gid);
    return found == packages_.end() ? nullptr : found->second;
  }

  void Log(const httplib::Request& req, const httplib::Response& res) {
    if (options_.access_log.empty()) return;
    std::lock_guard<std::mutex> hold(log_lock_);
    std::ofstream out(options_.access_log, std::ios::app);
    out << req.method << " " << req.path << " " << res.status;
    if (req.has_header("Range")) out << " range=" << req.get_header_value("Range");
    if (req.has_header("User-Agent")) out << " agent=" << req.get_header_value("User-Agent");
    out << "\n";
  }

  void Routes() {
    // Uploads are kept in memory: a few MiB each at most.
    server_.set_payload_max_length(size_t{8} << 20);
    server_.set_pre_routing_handler([this](const httplib::Request&, httplib::Response& res) {
      if (options_.slow_ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(options_.slow_ms));
      }
      if (options_.status != 0) {
        res.status = options_.status;
        res.set_content("demo fault: status " + std::to_string(options_.status) + "\n",
                        "text/plain");
        return httplib::Server::HandlerResponse::Handled;
      }
      return httplib::Server::HandlerResponse::Unhandled;
    });
    // The start page runs from file://, so every answer may be read by a
    // page of any origin, and preflight requests are answered on any path.
    // The access log has its line before the answer goes out: whoever has
    // an answer finds its request logged.
    server_.set_post_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      res.set_header("Access-Control-Allow-Origin", "*");
      Log(req, res);
    });
    server_.Options(R"(.*)", [](const httplib::Request&, httplib::Response& res) {
      res.status = 204;
      res.set_header("Access-Control-Allow-Methods", "GET, POST, OPTIONS");
      res.set_header("Access-Control-Allow-Headers", "Content-Type");
    });
    server_.Get("/", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(Index(), "text/plain; charset=utf-8");
    });
    server_.Post("/api/login",
                 [](const httplib::Request& req, httplib::Response& res,
                    const httplib::ContentReader& content) { Login(req, res, content); });
    server_.Get("/serverlist", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content("app#demo#1#1#" + self_ + ";dat#demo#1#1#" + self_ + ";cor#demo#1#1#" + self_,
                      "text/plain");
    });
    server_.Get("/test", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("OK\n", "text/plain");
    });
    server_.Post("/api/tomerack", [this](const httplib::Request& req, httplib::Response& res) {
      Catalogue(req, res);
    });
    server_.Get(R"(/data/images/([A-Za-z0-9_]+)\.png)",
                [this](const httplib::Request& req, httplib::Response& res) {
                  std::optional<DemoBook> book = Find(req.matches[1]);
                  if (!book) return NotFound(res);
                  res.set_content(book->cover_png, "image/png");
                });
    server_.Get(R"(/data/books/([A-Za-z0-9_]+)/([A-Za-z0-9_]+)\.zip\.MD5)",
                [this](const httplib::Request& req, httplib::Response& res) {
                  std::optional<DemoBook> book = Find(req.matches[2]);
                  if (!book || req.matches[1] != req.matches[2]) return NotFound(res);
                  std::string digest = book->digest;
                  if (options_.wrong_digest) std::reverse(digest.begin(), digest.end());
                  res.set_content(digest, "text/plain");
                });
    server_.Get(R"(/data/books/([A-Za-z0-9_]+)/([A-Za-z0-9_]+)\.zip)",
                [this](const httplib::Request& req, httplib::Response& res) {
                  std::shared_ptr<Blob> package = Package(req.matches[2]);
                  if (!package || req.matches[1] != req.matches[2]) return NotFound(res);
                  ServeBlob(req, res, package, "application/zip");
                });
    server_.Post(R"(/demo/publish/([A-Za-z0-9_]+))",
                 [this](const httplib::Request& req, httplib::Response& res) {
                   std::string digest;
                   if (!Publish(req.matches[1], digest)) return NotFound(res);
                   res.set_content(digest + "\n", "text/plain");
                 });
    server_.Get("/data/big.bin", [this](const httplib::Request& req, httplib::Response& res) {
      if (!big_) return NotFound(res);
      ServeBlob(req, res, big_, "application/octet-stream");
    });
    // The library answers 416 by itself, before any route, to a Range
    // header it cannot parse or finds inverted. For the blobs the header is
    // judged here instead, so that the answer follows HTTP: 416 with the
    // size, or the whole blob for a header that is not a byte range.
    httplib::Server::HandlerWithResponse judge_range = [this](const httplib::Request& req,
                                                              httplib::Response& res) {
      if (res.status != 416 || !req.has_header("Range"))
        return httplib::Server::HandlerResponse::Unhandled;
      const char* type = nullptr;
      std::shared_ptr<Blob> blob = BlobAt(req.path, type);
      if (!blob) return httplib::Server::HandlerResponse::Unhandled;
      res = httplib::Response{};
      res.set_header("Access-Control-Allow-Origin", "*");
      ServeBlob(req, res, blob, type);
      return httplib::Server::HandlerResponse::Handled;
    };
    server_.set_error_handler(std::move(judge_range));
    server_.Post("/upload",
                 [this](const httplib::Request& req, httplib::Response& res) { Upload(req, res); });
    server_.Get(R"(/uploads/([A-Za-z0-9_.-]+))",
                [this](const httplib::Request& req, httplib::Response& res) {
                  std::lock_guard<std::mutex> hold(uploads_lock_);
                  auto it = uploads_.find(req.matches[1]);
                  if (it == uploads_.end()) return NotFound(res);
                  res.set_content(it->second, "application/octet-stream");
                });
    server_.Get("/upgrade/version.dat", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(options_.version + "\r\n", "text/plain");
    });
    server_.Get("/upgrade/upgrade.exe", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(upgrade_.program, "application/octet-stream");
    });
    server_.Get("/upgrade/upgrade.sig", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(upgrade_.signature, "application/octet-stream");
    });
  }

  std::string Index() const {
    std::string base = "http://" + self_;
    return "tomerack demo service\n"
           "server list:   " +
           base +
           "/serverlist\n"
           "server test:   " +
           base +
           "/test\n"
           "catalogue:     POST " +
           base + "/api/tomerack (Authorization: " + options_.token +
           ")\n"
           "data root:     " +
           base +
           "/data\n"
           "upgrade base:  " +
           base + "/upgrade (signed; UpgradePublicKey " + upgrade_.public_key +
           ")\n"
           "uploads:       POST " +
           base + "/upload, then " + base + "/uploads/NAME\n" + "login:         POST " + base +
           "/api/login (form fields username, password as PasswordMD mixes it)\n"
           "\n"
           "demo users (user name, password, role, name, uid: books):\n" +
           UsersIndex() + "  any other uid: " + GidList(CatalogueGidsOf("")) + "\n" +
           (HasExtraBook() ? std::string("  every catalogue also lists ") + kExtraGid + "\n" : "");
  }

  static std::string GidList(const std::vector<std::string>& gids) {
    std::string list;
    for (const std::string& gid : gids) list += (list.empty() ? "" : " ") + gid;
    return list;
  }

  static std::string Padded(const std::string& text, size_t width) {
    return text + std::string(text.size() < width ? width - text.size() : 1, ' ');
  }

  static std::string UsersIndex() {
    std::string lines;
    for (const DemoUser& user : DemoUsers()) {
      lines += "  " + Padded(user.user_name, 10) + Padded(user.password, 8) + user.role_utf8 +
               "  " + user.display_name_utf8 + "  " + user.uid + ": " + GidList(user.gids) + "\n";
    }
    return lines;
  }

  bool HasExtraBook() const { return !options_.extra_package.empty(); }

  // The form is read here, not by the library, so that it is bounded and
  // its escapes are checked.
  static void Login(const httplib::Request& req, httplib::Response& res,
                    const httplib::ContentReader& content) {
    auto too_large = [&res] {
      res.status = 413;
      res.set_content("{\"Return\":\"1002413\",\"Message\":\"request too large\"}",
                      "application/json; charset=utf-8");
    };
    const std::string declared = req.get_header_value("Content-Length");
    if (!declared.empty() && std::strtoull(declared.c_str(), nullptr, 10) > kMostLoginBody) {
      return too_large();
    }
    std::string body;
    bool bounded = true;
    if (!req.is_multipart_form_data()) {
      content([&](const char* data, size_t length) {
        if (body.size() + length > kMostLoginBody) return bounded = false;
        body.append(data, length);
        return true;
      });
    }
    if (!bounded) return too_large();
    const LoginAnswer answer = AnswerLogin(body);
    res.status = answer.status;
    res.set_content(answer.json_utf8, "application/json; charset=utf-8");
  }

  // Keeps each uploaded file (the last few, a few MiB at most) under its
  // file name and answers what arrived: "uploaded NAME SIZE" and the text
  // fields, one "name=value" line each.
  void Upload(const httplib::Request& req, httplib::Response& res) {
    constexpr size_t kMostFiles = 16;
    std::string answer;
    std::string fields;
    for (const auto& [name, item] : req.files) {
      if (item.filename.empty()) {
        fields += name + "=" + item.content + "\n";
        continue;
      }
      // Clients send the file's whole path; the name is its last part.
      std::string base = item.filename.substr(item.filename.find_last_of("/\\") + 1);
      std::string stored;
      for (char c : base) {
        stored += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '_';
      }
      if (stored.empty() || stored[0] == '.') stored = "_" + stored;
      {
        std::lock_guard<std::mutex> hold(uploads_lock_);
        if (uploads_.size() >= kMostFiles && uploads_.count(stored) == 0) {
          uploads_.erase(uploads_.begin());
        }
        uploads_[stored] = item.content;
      }
      answer += "uploaded " + stored + " " + std::to_string(item.content.size()) + "\n";
    }
    if (answer.empty()) {
      res.status = 400;
      res.set_content("no file\n", "text/plain");
      return;
    }
    res.set_content(answer + fields, "text/plain; charset=utf-8");
  }

  static void NotFound(httplib::Response& res) {
    res.status = 404;
    res.set_content("not found\n", "text/plain");
  }

  // A copy, without the package bytes: a newer edition may be published
  // while it is in use.
  std::optional<DemoBook> Find(const std::string& gid) {
    std::lock_guard<std::mutex> hold(books_lock_);
    for (const DemoBook& book : books_) {
      if (book.gid == gid) return book;
    }
    return std::nullopt;
  }

  void Catalogue(const httplib::Request& req, httplib::Response& res) {
    if (req.get_header_value("Authorization") != options_.token) {
      res.status = 401;
      res.set_content("{\"Return\":\"1002001\",\"Message\":\"bad token\"}", "application/json");
      return;
    }
    JsonPtr request(cJSON_Parse(req.body.c_str()));
    cJSON* uid = request ? cJSON_GetObjectItemCaseSensitive(request.get(), "UID") : nullptr;
    cJSON* session =
        request ? cJSON_GetObjectItemCaseSensitive(request.get(), "SessionID") : nullptr;
    if (!cJSON_IsString(uid)) {
      res.status = 400;
      res.set_content("{\"Return\":\"1002005\",\"Message\":\"no UID\"}", "application/json");
      return;
    }
    res.set_content(
        CatalogueReply(uid->valuestring, cJSON_IsString(session) ? session->valuestring : ""),
        "application/json; charset=utf-8");
  }

  // The dataset reply with the uid's books; columns in an order of their
  // own, with one column the client does not need. The session is not
  // checked.
  std::string CatalogueReply(const std::string& uid, const std::string& session) {
    std::vector<std::string> gids = CatalogueGidsOf(uid);
    if (HasExtraBook()) gids.push_back(kExtraGid);
    std::vector<DemoBook> books;
    {
      std::lock_guard<std::mutex> hold(books_lock_);
      for (const std::string& gid : gids) {
        auto found = std::find_if(books_.begin(), books_.end(),
                                  [&gid](const DemoBook& book) { return book.gid == gid; });
        if (found != books_.end()) books.push_back(*found);
      }
    }
    static const char* const kColumns[] = {"gid",       "bsid",       "fullName",   "publisher",
                                           "baseImage", "insallPara", "launchPara", "bookMD5",
                                           "bookPath",  "bookReader"};
    JsonPtr reply(cJSON_CreateObject());
    cJSON* r = reply.get();
    cJSON_AddStringToObject(r, "Function", "DataAccess");
    cJSON_AddStringToObject(r, "Callback", "");
    cJSON_AddStringToObject(r, "SessionID", session.c_str());
    cJSON_AddStringToObject(r, "ID", "");
    cJSON_AddStringToObject(r, "Return", "0");
    cJSON_AddStringToObject(r, "Status", "OK");
    cJSON_AddStringToObject(r, "Message", "");
    cJSON_AddStringToObject(r, "UID", uid.c_str());
    cJSON* para = cJSON_AddObjectToObject(r, "Para");
    cJSON_AddStringToObject(para, "Rows", std::to_string(books.size()).c_str());
    cJSON_AddStringToObject(para, "Columns", std::to_string(std::size(kColumns)).c_str());
    cJSON* names = cJSON_AddArrayToObject(para, "ColumnName");
    for (const char* column : kColumns) cJSON_AddItemToArray(names, cJSON_CreateString(column));
    cJSON* data = cJSON_AddArrayToObject(para, "Data");
    for (const DemoBook& book : books) {
      std::string digest = book.digest;
      const std::string cells[] = {
          book.gid, book.bsid, book.title_utf8, "demo press",   book.base_image,
          "",       "",        digest,          book.book_path, book.reader};
      for (const std::string& cell : cells) {
        cJSON_AddItemToArray(data, cJSON_CreateString(cell.c_str()));
      }
    }
    return PrintCompact(r);
  }

  // The blob a GET of path serves, with its content type; null for others.
  std::shared_ptr<Blob> BlobAt(const std::string& path, const char*& type) {
    static const std::regex kPackagePath(R"(/data/books/([A-Za-z0-9_]+)/([A-Za-z0-9_]+)\.zip)");
    std::smatch m;
    if (std::regex_match(path, m, kPackagePath) && m[1] == m[2]) {
      type = "application/zip";
      return Package(m[2]);
    }
    if (path == "/data/big.bin") {
      type = "application/octet-stream";
      return big_;
    }
    return nullptr;
  }

  // Answers ranges itself (206 with Content-Range), so that the faults can
  // change how.
  void ServeBlob(const httplib::Request& req, httplib::Response& res, std::shared_ptr<Blob> blob,
                 const char* type) {
    // The library would apply the range a second time.
    const_cast<httplib::Request&>(req).ranges.clear();
    using demo_range::ByteRange;
    uint64_t size = blob->size();
    uint64_t first = 0;
    uint64_t last = size == 0 ? 0 : size - 1;
    bool partial = false;
    if (req.has_header("Range") && !options_.ignore_ranges) {
      // Checked whole before anything is served: an inverted range or a
      // start past the end would otherwise be read from past the blob.
      ByteRange range = demo_range::ParseRangeHeader(req.get_header_value("Range"), size);
      if (range.kind == ByteRange::Kind::kUnsatisfiable) {
        res.status = 416;
        res.set_header("Content-Range", "bytes */" + std::to_string(size));
        res.set_content("", "text/plain");
        return;
      }
      if (range.kind == ByteRange::Kind::kPart) {
        partial = true;
        first = range.first;
        last = range.last;
      }
    }
    uint64_t length = size == 0 ? 0 : last - first + 1;
    res.set_header("Accept-Ranges", "bytes");
    if (partial) {
      res.status = 206;
      res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                          std::to_string(last) + "/" + std::to_string(size));
    } else {
      res.status = 200;
    }
    if (length == 0) {
      res.set_content("", type);
      return;
    }
    int64_t drop = options_.drop_after;
    int slow = options_.slow_ms;
    const uint64_t rate = static_cast<uint64_t>(options_.rate_mib) << 20;
    // One schedule per answer: the limit is per transfer.
    auto pace = std::make_shared<TransferPace>(rate);
    const size_t most_piece = rate > 0 ? kPacedPiece : kPiece;
    res.set_content_provider(static_cast<size_t>(length), type,
                             [blob, first, drop, slow, pace, most_piece](
                                 size_t offset, size_t count, httplib::DataSink& sink) {
                               if (drop >= 0 && static_cast<int64_t>(offset) >= drop) return false;
                               size_t n = std::min(count, most_piece);
                               if (drop >= 0)
                                 n = std::min<size_t>(n, static_cast<size_t>(drop - offset));
                               if (slow > 0)
                                 std::this_thread::sleep_for(std::chrono::milliseconds(slow));
                               pace->WaitUntilSent(offset + n);
                               std::vector<char> piece(n);
                               blob->Copy(first + offset, n, piece.data());
                               return sink.write(piece.data(), n);
                             });
  }

  DemoOptions options_;
  std::vector<DemoBook> books_;
  DemoUpgrade upgrade_;    // made before serving, read-only after
  std::mutex books_lock_;  // books_ and packages_: editions change while serving
  std::map<std::string, std::shared_ptr<Blob>> packages_;
  std::shared_ptr<Blob> big_;
  std::mutex uploads_lock_;
  std::map<std::string, std::string> uploads_;  // file name -> content
  httplib::Server server_;
  int port_ = 0;
  std::string self_;
  std::mutex log_lock_;
  std::mutex stop_lock_;
  std::condition_variable stop_changed_;
  bool listen_ended_ = false;
};

}  // namespace

int RunDemoService(const DemoOptions& options) {
  DemoService service(options);
  return service.Run();
}
