// The book record: what the collection knows about one book, persisted as
// one sealed record file per book.
#pragma once

#include <cJSON.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/event.h"

class BookCollection;

// Bits of bookStatus.
inline constexpr uint32_t kBookDownloading = 2;
inline constexpr uint32_t kBookReserved = 4;  // cleared when a download starts; nothing sets it
inline constexpr uint32_t kBookDownloaded = 8;
inline constexpr uint32_t kBookInstalled = 16;

// The persisted fields, named as in the record file, in file order. The
// three sizes and the status are 32-bit: sizes above 2^31 stay positive.
struct BookFields {
  std::string gid;
  std::string bookID;
  uint32_t bookStatus = 0;
  uint32_t bookSize = 0;
  std::string imageURL;
  std::string bookTitle;
  std::string bookURL;
  std::string bookMD5;
  std::string bookReader;
  std::string bookInstallDir;
  std::string IID;
  std::string version;
  std::string editionName;
  std::string editionTime;
  std::string editionDesc;
  std::string bookPackageID;
  std::string downloading_bookMD5;
  uint32_t downloading_bookSize = 0;
  uint32_t downloading_downloadedSize = 0;
  std::string downloading_bookPackageID;
  std::string last_bookPackageID;
  std::string last_bookMD5;
};

inline constexpr int kRecordFieldCount = 22;

// The record file's JSON text: 22 string members in order, formatted.
// Empty when the JSON library fails.
std::string RecordToJson(const BookFields& fields);
// Takes every member present (strings, or numbers for the integers); an
// absent member leaves its field as it is. Integers that are not numbers
// read as 0.
void ApplyRecordJson(const cJSON* object, BookFields& fields);

// One book. Every field is guarded by the record's own lock, which is held
// only while fields are copied or changed, never while calling out.
//
// The record owns its download worker: at most one runs at a time, and the
// record is not destroyed before it has been stopped and joined. The worker
// gets the record by reference, never a share of it, so it can never be
// the one that destroys its own record.
class BookRecord {
 public:
  explicit BookRecord(BookCollection* owner = nullptr) : collection_(owner) {}
  // Stops and joins the download worker.
  ~BookRecord();
  BookRecord(const BookRecord&) = delete;
  BookRecord& operator=(const BookRecord&) = delete;

  BookCollection* collection() const { return collection_; }

  BookFields Fields() const;
  void SetFields(const BookFields& fields);
  // Runs change on the fields under the lock and returns its result.
  template <typename Change>
  auto Update(Change&& change) {
    std::lock_guard<std::mutex> guard(lock_);
    return change(fields_);
  }

  uint32_t Status() const;
  void SetStatusBits(uint32_t bits);
  void ClearStatusBits(uint32_t bits);

  std::string BookId() const;
  std::string LastPackageId() const;
  std::string LastMD5() const;

  // The message of the last operation on this book, and its error counter.
  std::string Message() const;
  void SetMessage(const std::string& text);
  int ErrorCount() const;
  // Adds one and returns the new count.
  int IncrementErrorCount();
  void ResetErrorCount();

  // Copies every persisted field, the message and the error counter of
  // source, under source's lock.
  void CopyFrom(const BookRecord& source);

  // Stops a running worker, resets both stop events and runs body on a new
  // worker thread.
  void StartDownloadWorker(std::function<void(BookRecord&)> body);
  // Signals both stop events and waits without limit for the worker.
  void StopDownloadWorker();
  // Stops the worker as StopDownloadWorker does, but the work stays owed:
  // the worker leaves the record marked as downloading, so that the next
  // load of the records resumes it. For a sign-in, a sign-out or the exit,
  // which end the work without the user asking for it.
  void SuspendDownloadWorker();
  // True from a SuspendDownloadWorker until the next worker starts.
  bool WorkSuspended() const { return work_suspended_.load(); }
  // Waits for the worker to end by itself.
  void WaitDownloadWorker();
  bool HasDownloadWorker() const;
  // True from the worker's start until its body has returned.
  bool IsDownloadWorkerRunning() const { return worker_running_.load(); }

  // The event the transfer looks at before each read, and the second one
  // signalled with it.
  platform::Event& stop_event() { return stop_event_; }
  platform::Event& second_stop_event() { return second_stop_event_; }

  // Held by a save from its copy of the fields until the file is written,
  // so that saves from several threads reach the disk in the order of
  // their copies: an older copy never overwrites a newer one.
  std::mutex& save_lock() const { return save_lock_; }

  // Set while an uninstall runs: every operation but a status query is
  // refused.
  std::atomic<bool> uninstalling{false};

 private:
  void JoinWorker();

  mutable std::mutex lock_;
  mutable std::mutex save_lock_;
  BookFields fields_;
  std::string message_;
  int error_count_ = 0;
  BookCollection* collection_;

  // Guards the worker's handle; held while joining, never by the worker.
  mutable std::mutex worker_lock_;
  std::thread worker_;
  std::atomic<bool> worker_running_{false};
  std::atomic<bool> work_suspended_{false};
  platform::Event stop_event_{platform::EventReset::kAuto};
  platform::Event second_stop_event_{platform::EventReset::kAuto};
};

// False when the installed package is the newest (identifiers and digests
// equal, with case).
bool IsUpgradeAvailable(const BookRecord& record);
