#include "books/book_record.h"

#include <string>
#include <variant>

#include "util/json_tree.h"
#include "util/number_text.h"

namespace {

struct FieldDescriptor {
  const char* key;
  std::variant<std::string BookFields::*, uint32_t BookFields::*> member;
};

// The record file's members, in the order they are written.
const FieldDescriptor kFields[kRecordFieldCount] = {
    {"gid", &BookFields::gid},
    {"bookID", &BookFields::bookID},
    {"bookStatus", &BookFields::bookStatus},
    {"bookSize", &BookFields::bookSize},
    {"imageURL", &BookFields::imageURL},
    {"bookTitle", &BookFields::bookTitle},
    {"bookURL", &BookFields::bookURL},
    {"bookMD5", &BookFields::bookMD5},
    {"bookReader", &BookFields::bookReader},
    {"bookInstallDir", &BookFields::bookInstallDir},
    {"IID", &BookFields::IID},
    {"version", &BookFields::version},
    {"editionName", &BookFields::editionName},
    {"editionTime", &BookFields::editionTime},
    {"editionDesc", &BookFields::editionDesc},
    {"bookPackageID", &BookFields::bookPackageID},
    {"downloading_bookMD5", &BookFields::downloading_bookMD5},
    {"downloading_bookSize", &BookFields::downloading_bookSize},
    {"downloading_downloadedSize", &BookFields::downloading_downloadedSize},
    {"downloading_bookPackageID", &BookFields::downloading_bookPackageID},
    {"last_bookPackageID", &BookFields::last_bookPackageID},
    {"last_bookMD5", &BookFields::last_bookMD5},
};

}  // namespace

std::string RecordToJson(const BookFields& fields) {
  JsonPtr object(cJSON_CreateObject());
  if (!object) return {};
  for (const auto& f : kFields) {
    std::string value;
    if (auto* text = std::get_if<std::string BookFields::*>(&f.member))
      value = fields.*(*text);
    else
      value = std::to_string(fields.*std::get<uint32_t BookFields::*>(f.member));
    if (!cJSON_AddStringToObject(object.get(), f.key, value.c_str())) return {};
  }
  return PrintJson(object.get(), true);
}

namespace {
// A number this large or larger has no 64-bit value (converting it would be
// undefined): it reads as 0, as a member that is not a number does.
constexpr double kFirstPastUint64 = 18446744073709551616.0;
}  // namespace

void ApplyRecordJson(const cJSON* object, BookFields& fields) {
  if (!cJSON_IsObject(object)) return;
  for (const auto& f : kFields) {
    const cJSON* item = cJSON_GetObjectItem(object, f.key);
    if (!item) continue;
    if (auto* text = std::get_if<std::string BookFields::*>(&f.member)) {
      if (cJSON_IsString(item)) fields.*(*text) = item->valuestring;
      continue;
    }
    uint32_t value = 0;
    if (cJSON_IsString(item))
      value = static_cast<uint32_t>(ParseLeadingInt(item->valuestring));
    else if (cJSON_IsNumber(item) && item->valuedouble > 0 &&
             item->valuedouble < kFirstPastUint64)
      value = static_cast<uint32_t>(static_cast<uint64_t>(item->valuedouble));
    fields.*std::get<uint32_t BookFields::*>(f.member) = value;
  }
}

BookFields BookRecord::Fields() const {
  std::lock_guard<std::mutex> guard(lock_);
  return fields_;
}

void BookRecord::SetFields(const BookFields& fields) {
  std::lock_guard<std::mutex> guard(lock_);
  fields_ = fields;
}

uint32_t BookRecord::Status() const {
  std::lock_guard<std::mutex> guard(lock_);
  return fields_.bookStatus;
}

void BookRecord::SetStatusBits(uint32_t bits) {
  std::lock_guard<std::mutex> guard(lock_);
  fields_.bookStatus |= bits;
}

void BookRecord::ClearStatusBits(uint32_t bits) {
  std::lock_guard<std::mutex> guard(lock_);
  fields_.bookStatus &= ~bits;
}

std::string BookRecord::BookId() const {
  std::lock_guard<std::mutex> guard(lock_);
  return fields_.bookID;
}

std::string BookRecord::LastPackageId() const {
  std::lock_guard<std::mutex> guard(lock_);
  return fields_.last_bookPackageID;
}

std::string BookRecord::LastMD5() const {
  std::lock_guard<std::mutex> guard(lock_);
  return fields_.last_bookMD5;
}

std::string BookRecord::Message() const {
  std::lock_guard<std::mutex> guard(lock_);
  return message_;
}

void BookRecord::SetMessage(const std::string& text) {
  std::lock_guard<std::mutex> guard(lock_);
  message_ = text;
}

int BookRecord::ErrorCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return error_count_;
}

int BookRecord::IncrementErrorCount() {
  std::lock_guard<std::mutex> guard(lock_);
  return ++error_count_;
}

void BookRecord::ResetErrorCount() {
  std::lock_guard<std::mutex> guard(lock_);
  error_count_ = 0;
}

void BookRecord::CopyFrom(const BookRecord& source) {
  if (&source == this) return;
  BookFields fields;
  std::string message;
  int errors;
  {
    std::lock_guard<std::mutex> guard(source.lock_);
    fields = source.fields_;
    message = source.message_;
    errors = source.error_count_;
  }
  std::lock_guard<std::mutex> guard(lock_);
  fields_ = std::move(fields);
  message_ = std::move(message);
  error_count_ = errors;
}

bool IsUpgradeAvailable(const BookRecord& record) {
  BookFields f = record.Fields();
  return !(f.bookPackageID == f.last_bookPackageID && f.bookMD5 == f.last_bookMD5);
}

BookRecord::~BookRecord() {
  StopDownloadWorker();
}

void BookRecord::StartDownloadWorker(std::function<void(BookRecord&)> body) {
  std::lock_guard<std::mutex> guard(worker_lock_);
  if (worker_.joinable()) {
    stop_event_.Set();
    second_stop_event_.Set();
    JoinWorker();
  }
  stop_event_.Reset();
  second_stop_event_.Reset();
  work_suspended_ = false;
  worker_running_ = true;
  worker_ = std::thread([this, body = std::move(body)] {
    body(*this);
    worker_running_ = false;
  });
}

void BookRecord::StopDownloadWorker() {
  std::lock_guard<std::mutex> guard(worker_lock_);
  if (!worker_.joinable()) return;
  stop_event_.Set();
  second_stop_event_.Set();
  JoinWorker();
}

void BookRecord::SuspendDownloadWorker() {
  std::lock_guard<std::mutex> guard(worker_lock_);
  if (!worker_.joinable()) return;
  work_suspended_ = true;
  stop_event_.Set();
  second_stop_event_.Set();
  JoinWorker();
}

void BookRecord::WaitDownloadWorker() {
  std::lock_guard<std::mutex> guard(worker_lock_);
  JoinWorker();
}

bool BookRecord::HasDownloadWorker() const {
  std::lock_guard<std::mutex> guard(worker_lock_);
  return worker_.joinable();
}

void BookRecord::JoinWorker() {
  if (!worker_.joinable()) return;
  // The worker never stops itself; should it get here all the same, it
  // must not wait for its own end.
  if (worker_.get_id() == std::this_thread::get_id()) {
    worker_.detach();
    return;
  }
  worker_.join();
}
