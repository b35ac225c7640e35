// The signed-in user's book collection: records and package lists by key,
// the catalogue, the user, the next message for the owner window, and the
// loading of the book files.
//
// Locks: one per map, one for the user, one for the message, the
// catalogue's own, and each record's. A record is looked up under the map
// lock and worked on after it is released; no map lock is taken while a
// record's lock is held. Records are shared: a record replaced in the map
// lives on while a worker or a report still holds it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "books/book_record.h"
#include "books/catalogue.h"
#include "books/package_list.h"

using RecordPtr = std::shared_ptr<BookRecord>;

class SyncThread;

// What the collection asks its owner window to do; the owner posts it to
// its UI thread.
enum class OwnerRequest { kShowMessageBox, kShowTip, kHideTip };
using OwnerPoster = std::function<void(OwnerRequest)>;

// Free space in whole mebibytes of the file system that holds a path; false
// when it cannot be read.
using FreeSpaceQuery = std::function<bool(const std::string& path, uint64_t& free_mb)>;

struct UserInfo {
  std::string uid;
  std::string sessionid;
  std::string username;
  std::string password;
};

struct CollectionMessage {
  std::string text;
  uint32_t auto_close_ms = 0;  // 0: stays until closed
};

// The process-wide flag set when the main window starts to close.
bool IsApplicationExiting();
void SetApplicationExiting(bool exiting);

class BookCollection {
 public:
  BookCollection();
  ~BookCollection();
  BookCollection(const BookCollection&) = delete;
  BookCollection& operator=(const BookCollection&) = delete;

  // The collection constructed last and not yet destroyed, or null.
  static BookCollection* Instance();

  const std::string& program_directory() const { return program_directory_; }

  // Replaces the owner window's poster (null: no owner). Returns only once
  // every call of the previous poster has returned, and no call of it
  // starts afterwards: a window may go right after detaching itself. A
  // poster must not wait for the thread that detaches it.
  void SetOwner(OwnerPoster poster);
  void PostToOwner(OwnerRequest request) const;

  // The service addresses: catalogue URL, data server root, application
  // root (trailing "/" removed from the roots).
  void SetAddresses(const std::string& catalogue_url, const std::string& data_root,
                    const std::string& app_root);
  std::string CatalogueUrl() const;
  std::string DataServerRoot() const;
  std::string ApplicationRoot() const;

  void SetUser(const std::string& uid, const std::string& sessionid, const std::string& username,
               const std::string& password);
  UserInfo User() const;

  std::atomic<bool> online{false};
  std::atomic<bool> sync_requested{false};
  std::atomic<bool> sync_running{false};

  // Stores the message and asks the owner window to show it.
  void ShowCollectionMessage(const std::string& text, uint32_t auto_close_ms);
  CollectionMessage Message() const;

  // Records by bookID.
  RecordPtr FindRecord(const std::string& book_id) const;
  // Inserts or replaces; returns the record now under the key.
  RecordPtr PutRecord(const std::string& book_id, RecordPtr record);
  // Inserts unless a record is already under the key; returns the record
  // now under the key, the earlier one when there was one.
  RecordPtr PutRecordIfAbsent(const std::string& book_id, RecordPtr record);
  bool RemoveRecord(const std::string& book_id);
  // Empties the map, then stops every dropped record's worker and waits
  // for it and for the uninstall workers, so that records loaded afresh
  // never work beside an old one on the same book.
  void ClearRecords();
  std::vector<RecordPtr> AllRecords() const;

  // Package lists by gid, as copies.
  bool FindPackageList(const std::string& gid, PackageList& list) const;
  void PutPackageList(const PackageList& list);
  void ClearPackageLists();
  size_t PackageListCount() const;

  Catalogue& catalogue() { return catalogue_; }
  const Catalogue& catalogue() const { return catalogue_; }

  // Free space for the installation; the file system's own unless replaced.
  void SetFreeSpaceQuery(FreeSpaceQuery query);
  bool FreeSpaceMB(const std::string& path, uint64_t& free_mb) const;

  // Called for every loaded record whose status shows an interrupted
  // operation (downloading or downloaded), once LoadAllRecords kept it.
  void SetRecoveryStarter(std::function<void(const RecordPtr&)> starter);

  // Called by an uninstall right before it deletes the book's files, with
  // the book's worker stopped and its record saved; tests look at the disk
  // there.
  void SetUninstallHook(std::function<void(const BookRecord&)> hook);
  void BeforeUninstallRemoval(const BookRecord& record) const;

  // The background synchronisation. Starting stops a running one first.
  void StartSyncThread();
  void StopSyncThread();
  // SyncThread picks the request up within 500 ms.
  void RequestSync() { sync_requested = true; }

  // Runs work on a thread of its own (uninstall workers; recovery runs as
  // the record's own worker). The collection owns these threads and joins
  // them before it goes.
  void RunWorker(std::function<void()> work);
  // Waits until every such thread has ended, including those started while
  // waiting.
  void WaitForWorkers();
  // Waits for those threads, then for every record's download worker.
  void WaitForAllWork();

 private:
  friend void LoadAllRecords(BookCollection& collection);
  void StartRecovery(const RecordPtr& record) const;

  std::string program_directory_;

  // One installed poster and the number of its calls under way.
  struct OwnerSlot {
    OwnerPoster poster;
    int calls = 0;
  };
  mutable std::mutex owner_lock_;
  mutable std::condition_variable owner_idle_;
  std::shared_ptr<OwnerSlot> owner_;
  std::function<void(const RecordPtr&)> recovery_starter_;
  std::function<void(const BookRecord&)> uninstall_hook_;
  FreeSpaceQuery free_space_;

  mutable std::mutex address_lock_;
  std::string catalogue_url_;
  std::string data_root_;
  std::string app_root_;

  mutable std::mutex user_lock_;
  UserInfo user_;

  mutable std::mutex message_lock_;
  CollectionMessage message_;

  mutable std::mutex records_lock_;
  std::map<std::string, RecordPtr> records_;

  mutable std::mutex package_lists_lock_;
  std::map<std::string, PackageList> package_lists_;

  Catalogue catalogue_;

  std::mutex sync_thread_lock_;
  std::unique_ptr<SyncThread> sync_thread_;

  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex workers_lock_;
  std::vector<Worker> workers_;
};

// Serialises the record and writes RecordPath(bookID), sealed. 0;
// kBookRefused when it cannot be serialised; kBookWriteFailed when the
// write fails (the record in memory stays as it is).
int SaveRecord(const BookRecord& record);

// Reads a record file (sealed, or plain when it starts with two blanks)
// into the record. kBookReadFailed when it cannot be read; a text that is
// not JSON leaves the record unchanged and gives 0.
int LoadRecordFile(BookRecord& record, const std::string& path);

// Loads every P/data/bookinf/*.inf file in listing order. A file that
// cannot be read or has no bookID is logged and renamed to ".err"; the
// others replace any record under their bookID.
void LoadAllRecords(BookCollection& collection);

// Loads every P/data/bookinf/*.lst file; unreadable ones are skipped.
void LoadAllPackageLists(BookCollection& collection);

// The install directory of a record and the path of its reader program
// (empty when bookReader would lead out of the install directory, see
// ReaderProgramPath). The base is bookInstallDir, or the program directory
// when that is empty.
std::string PackagePathOf(const BookFields& fields);
std::string InstallDirectoryOf(const BookRecord& record);
std::string ReaderPathOf(const BookRecord& record);
