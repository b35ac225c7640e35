#include "books/book_collection.h"

#include "app/sealed_file.h"
#include "books/book_paths.h"
#include "books/book_results.h"
#include "books/sync_thread.h"
#include "config/daily_log.h"
#include "platform/file_system.h"
#include "util/directory_tree.h"
#include "util/drive_helpers.h"
#include "util/file_io.h"
#include "util/json_tree.h"
#include "util/path_names.h"

namespace {

std::atomic<bool> application_exiting{false};
std::atomic<BookCollection*> current_collection{nullptr};
// The owner slot whose poster this thread is running, if any.
thread_local const void* calling_slot = nullptr;

std::string WithoutTrailingSlashes(std::string text) {
  while (!text.empty() && text.back() == '/') text.pop_back();
  return text;
}

bool SystemFreeSpace(const std::string& path, uint64_t& free_mb) {
  uint64_t total_mb = 0;
  return GetDiskSpaceMB(total_mb, free_mb, path);
}

}  // namespace

bool IsApplicationExiting() {
  return application_exiting.load();
}

void SetApplicationExiting(bool exiting) {
  application_exiting.store(exiting);
}

BookCollection::BookCollection()
    : program_directory_(GetProgramDirectory()), free_space_(SystemFreeSpace) {
  current_collection.store(this);
}

BookCollection::~BookCollection() {
  BookCollection* self = this;
  current_collection.compare_exchange_strong(self, nullptr);
  StopSyncThread();
  WaitForWorkers();
  // Workers use their collection: none may outlive it.
  for (const RecordPtr& record : AllRecords()) record->SuspendDownloadWorker();
  ClearRecords();
}

void BookCollection::StartSyncThread() {
  std::lock_guard<std::mutex> guard(sync_thread_lock_);
  sync_thread_.reset();
  sync_thread_ = std::make_unique<SyncThread>(*this);
}

void BookCollection::StopSyncThread() {
  std::unique_ptr<SyncThread> stopping;
  {
    std::lock_guard<std::mutex> guard(sync_thread_lock_);
    stopping = std::move(sync_thread_);
  }
  stopping.reset();
}

void BookCollection::RunWorker(std::function<void()> work) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::lock_guard<std::mutex> guard(workers_lock_);
  // Threads that have ended are joined here, so the list stays short.
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done->load()) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
  workers_.push_back(Worker{std::thread([work = std::move(work), done] {
                              work();
                              done->store(true);
                            }),
                            done});
}

void BookCollection::WaitForWorkers() {
  while (true) {
    std::vector<Worker> waiting;
    {
      std::lock_guard<std::mutex> guard(workers_lock_);
      waiting.swap(workers_);
    }
    if (waiting.empty()) return;
    for (Worker& worker : waiting) {
      if (worker.thread.get_id() == std::this_thread::get_id()) {
        worker.thread.detach();
      } else {
        worker.thread.join();
      }
    }
  }
}

void BookCollection::WaitForAllWork() {
  WaitForWorkers();
  for (const RecordPtr& record : AllRecords()) record->WaitDownloadWorker();
  // A download that ended may have been followed by another worker's start.
  WaitForWorkers();
}

BookCollection* BookCollection::Instance() {
  return current_collection.load();
}

void BookCollection::SetOwner(OwnerPoster poster) {
  auto slot = poster ? std::make_shared<OwnerSlot>() : nullptr;
  if (slot) slot->poster = std::move(poster);
  std::unique_lock<std::mutex> guard(owner_lock_);
  std::shared_ptr<OwnerSlot> previous = std::exchange(owner_, std::move(slot));
  if (!previous) return;
  // A poster that detaches itself must not wait for its own call.
  int own = calling_slot == previous.get() ? 1 : 0;
  owner_idle_.wait(guard, [&] { return previous->calls <= own; });
}

void BookCollection::PostToOwner(OwnerRequest request) const {
  std::shared_ptr<OwnerSlot> slot;
  {
    std::lock_guard<std::mutex> guard(owner_lock_);
    if (!owner_) return;
    slot = owner_;
    ++slot->calls;
  }
  // Called outside the lock, so that a poster may read the collection; a
  // detaching owner waits for the count to drop.
  struct CallEnd {
    const BookCollection& collection;
    OwnerSlot& slot;
    const void* outer;
    ~CallEnd() {
      calling_slot = outer;
      std::lock_guard<std::mutex> guard(collection.owner_lock_);
      if (--slot.calls == 0) collection.owner_idle_.notify_all();
    }
  } end{*this, *slot, std::exchange(calling_slot, slot.get())};
  slot->poster(request);
}

void BookCollection::SetAddresses(const std::string& catalogue_url, const std::string& data_root,
                                  const std::string& app_root) {
  std::lock_guard<std::mutex> guard(address_lock_);
  catalogue_url_ = catalogue_url;
  data_root_ = WithoutTrailingSlashes(data_root);
  app_root_ = WithoutTrailingSlashes(app_root);
}

std::string BookCollection::CatalogueUrl() const {
  std::lock_guard<std::mutex> guard(address_lock_);
  return catalogue_url_;
}

std::string BookCollection::DataServerRoot() const {
  std::lock_guard<std::mutex> guard(address_lock_);
  return data_root_;
}

std::string BookCollection::ApplicationRoot() const {
  std::lock_guard<std::mutex> guard(address_lock_);
  return app_root_;
}

void BookCollection::SetUser(const std::string& uid, const std::string& sessionid,
                             const std::string& username, const std::string& password) {
  std::lock_guard<std::mutex> guard(user_lock_);
  user_ = UserInfo{uid, sessionid, username, password};
}

UserInfo BookCollection::User() const {
  std::lock_guard<std::mutex> guard(user_lock_);
  return user_;
}

void BookCollection::ShowCollectionMessage(const std::string& text, uint32_t auto_close_ms) {
  {
    std::lock_guard<std::mutex> guard(message_lock_);
    message_ = CollectionMessage{text, auto_close_ms};
  }
  PostToOwner(OwnerRequest::kShowMessageBox);
}

CollectionMessage BookCollection::Message() const {
  std::lock_guard<std::mutex> guard(message_lock_);
  return message_;
}

RecordPtr BookCollection::FindRecord(const std::string& book_id) const {
  std::lock_guard<std::mutex> guard(records_lock_);
  auto it = records_.find(book_id);
  return it == records_.end() ? nullptr : it->second;
}

RecordPtr BookCollection::PutRecord(const std::string& book_id, RecordPtr record) {
  RecordPtr replaced;
  {
    std::lock_guard<std::mutex> guard(records_lock_);
    RecordPtr& slot = records_[book_id];
    if (slot != record) replaced = std::exchange(slot, record);
  }
  // The old record goes outside the lock: its destruction may wait for its
  // worker.
  replaced.reset();
  return record;
}

RecordPtr BookCollection::PutRecordIfAbsent(const std::string& book_id, RecordPtr record) {
  std::lock_guard<std::mutex> guard(records_lock_);
  RecordPtr& slot = records_[book_id];
  if (!slot) slot = std::move(record);
  return slot;
}

bool BookCollection::RemoveRecord(const std::string& book_id) {
  RecordPtr removed;
  {
    std::lock_guard<std::mutex> guard(records_lock_);
    auto it = records_.find(book_id);
    if (it == records_.end()) return false;
    removed = std::move(it->second);
    records_.erase(it);
  }
  return true;
}

void BookCollection::ClearRecords() {
  std::map<std::string, RecordPtr> old;
  {
    std::lock_guard<std::mutex> guard(records_lock_);
    old.swap(records_);
  }
  // Out of the map first, so that no operation starts another worker on
  // them. A record may live on with a holder; its work may not. A download
  // cut short here is resumed when the records are loaded again.
  for (const auto& [key, record] : old) record->SuspendDownloadWorker();
  WaitForWorkers();
}

std::vector<RecordPtr> BookCollection::AllRecords() const {
  std::lock_guard<std::mutex> guard(records_lock_);
  std::vector<RecordPtr> all;
  all.reserve(records_.size());
  for (const auto& [key, record] : records_) all.push_back(record);
  return all;
}

bool BookCollection::FindPackageList(const std::string& gid, PackageList& list) const {
  std::lock_guard<std::mutex> guard(package_lists_lock_);
  auto it = package_lists_.find(gid);
  if (it == package_lists_.end()) return false;
  list = it->second;
  return true;
}

void BookCollection::PutPackageList(const PackageList& list) {
  std::lock_guard<std::mutex> guard(package_lists_lock_);
  package_lists_[list.gid] = list;
}

void BookCollection::ClearPackageLists() {
  std::lock_guard<std::mutex> guard(package_lists_lock_);
  package_lists_.clear();
}

size_t BookCollection::PackageListCount() const {
  std::lock_guard<std::mutex> guard(package_lists_lock_);
  return package_lists_.size();
}

void BookCollection::SetFreeSpaceQuery(FreeSpaceQuery query) {
  std::lock_guard<std::mutex> guard(owner_lock_);
  free_space_ = query ? std::move(query) : FreeSpaceQuery(SystemFreeSpace);
}

bool BookCollection::FreeSpaceMB(const std::string& path, uint64_t& free_mb) const {
  FreeSpaceQuery query;
  {
    std::lock_guard<std::mutex> guard(owner_lock_);
    query = free_space_;
  }
  free_mb = 0;
  return query(path, free_mb);
}

void BookCollection::SetRecoveryStarter(std::function<void(const RecordPtr&)> starter) {
  std::lock_guard<std::mutex> guard(owner_lock_);
  recovery_starter_ = std::move(starter);
}

void BookCollection::SetUninstallHook(std::function<void(const BookRecord&)> hook) {
  std::lock_guard<std::mutex> guard(owner_lock_);
  uninstall_hook_ = std::move(hook);
}

void BookCollection::BeforeUninstallRemoval(const BookRecord& record) const {
  std::function<void(const BookRecord&)> hook;
  {
    std::lock_guard<std::mutex> guard(owner_lock_);
    hook = uninstall_hook_;
  }
  if (hook) hook(record);
}

void BookCollection::StartRecovery(const RecordPtr& record) const {
  std::function<void(const RecordPtr&)> starter;
  {
    std::lock_guard<std::mutex> guard(owner_lock_);
    starter = recovery_starter_;
  }
  if (starter) starter(record);
}

int SaveRecord(const BookRecord& record) {
  std::lock_guard<std::mutex> in_order(record.save_lock());
  std::string json = RecordToJson(record.Fields());
  if (json.empty()) return kBookRefused;
  std::string path = RecordPath(record.BookId());
  CreateParentDirectories(path);
  return WriteSealedFile(json, path) == kSealOk ? kBookOk : kBookWriteFailed;
}

int LoadRecordFile(BookRecord& record, const std::string& path) {
  std::string text;
  if (ReadSealedFile(path, kRecordOuterByte, text) != kSealOk) return kBookReadFailed;
  JsonPtr json = ParseJson(text);
  if (!json) return kBookOk;
  record.Update([&](BookFields& fields) { ApplyRecordJson(json.get(), fields); });
  return kBookOk;
}

void LoadAllRecords(BookCollection& collection) {
  std::string directory = JoinPath(collection.program_directory(), "data/bookinf");
  NameList names;
  ListDirectoryEntries(names, directory, "*.inf", false, kIncludeFiles);
  for (const std::string& name : names) {
    std::string path = JoinPath(directory, name);
    auto record = std::make_shared<BookRecord>(&collection);
    int result = LoadRecordFile(*record, path);
    std::string book_id = record->BookId();
    if (result != kBookOk || book_id.empty()) {
      WriteLogLine("ERR load book:" + path);
      // Fails, leaving the file where it is, when an older ".err" exists.
      if (!FileExists(DamagedRecordPath(path))) platform::RenamePath(path, DamagedRecordPath(path));
      continue;
    }
    collection.PutRecord(book_id, record);
    if (record->Status() & (kBookDownloading | kBookDownloaded)) collection.StartRecovery(record);
  }
}

void LoadAllPackageLists(BookCollection& collection) {
  std::string directory = JoinPath(collection.program_directory(), "data/bookinf");
  NameList names;
  ListDirectoryEntries(names, directory, "*.lst", false, kIncludeFiles);
  for (const std::string& name : names) {
    std::string key = GetFileTitleWithoutExtension(JoinPath(directory, name));
    std::string text;
    if (ReadSealedFile(PackageListPath(key), kRecordOuterByte, text) != kSealOk) continue;
    PackageList list;
    ParsePackageList(list, text, key);
    collection.PutPackageList(list);
  }
}

std::string PackagePathOf(const BookFields& fields) {
  std::string base = fields.bookInstallDir.empty() ? GetProgramDirectory() : fields.bookInstallDir;
  return PackagePath(fields.bookURL, fields.bookID, base);
}

std::string InstallDirectoryOf(const BookRecord& record) {
  return InstallDirPath(PackagePathOf(record.Fields()));
}

std::string ReaderPathOf(const BookRecord& record) {
  return ReaderProgramPath(InstallDirectoryOf(record), record.Fields().bookReader);
}
