#include "zip/entry_extraction.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <vector>

#include "platform/file_system.h"
#include "zip/zip_archive.h"
#include "zip/zip_exception.h"

namespace {

// The names of a package are checked through hashes of every folder they
// pass; this many at most, beyond that the archive is extracted in order.
constexpr size_t kMostCheckedFolders = 1 << 20;

// FNV-1a, continued from a prefix's hash. Two different paths with the same
// hash only make the archive look dependent, which is safe.
uint64_t HashMore(uint64_t hash, char c) {
  return (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
}
constexpr uint64_t kHashStart = 14695981039346656037ull;

// Runs one entry, turning what it raises into the failure's error.
bool ExtractOne(CZipArchive& zip, size_t index, const std::string& directory,
                EntryFailure& failure) {
  try {
    std::string message;
    if (zip.ExtractEntry(index, directory, message)) return true;
    failure = EntryFailure{index, std::move(message), nullptr};
  } catch (...) {
    failure = EntryFailure{index, {}, std::current_exception()};
  }
  return false;
}

// The lowest failure seen so far, and where the threads stop taking entries.
class FirstFailure {
 public:
  // Entries at and after this index are not begun any more.
  size_t limit() const { return limit_.load(); }

  void Report(EntryFailure failure) {
    std::lock_guard<std::mutex> guard(lock_);
    if (failure.index >= first_.index) return;
    limit_.store(failure.index);
    first_ = std::move(failure);
  }

  EntryFailure Take() {
    std::lock_guard<std::mutex> guard(lock_);
    return std::move(first_);
  }

 private:
  std::atomic<size_t> limit_{EntryFailure::kNone};
  std::mutex lock_;
  EntryFailure first_;
};

// Takes file entries in archive order until none is left or one before the
// next has failed.
void ExtractFiles(CZipArchive& zip, const std::string& directory, const std::vector<size_t>& files,
                  std::atomic<size_t>& next, FirstFailure& first) {
  for (size_t k = next++; k < files.size(); k = next++) {
    const size_t index = files[k];
    // Taken in order: every later entry is past the limit too.
    if (index >= first.limit()) return;
    EntryFailure failure;
    if (!ExtractOne(zip, index, directory, failure)) first.Report(std::move(failure));
  }
}

}  // namespace

EntryFailure ExtractEntriesInOrder(CZipArchive& zip, const std::string& directory) {
  EntryFailure failure;
  for (size_t i = 0; i < zip.GetCount(); ++i) {
    if (!ExtractOne(zip, i, directory, failure)) break;
  }
  return failure;
}

bool EntriesIndependent(const CZipArchive& zip) {
  std::unordered_set<uint64_t> files;
  std::unordered_set<uint64_t> folders;
  size_t checked = 0;
  for (size_t i = 0; i < zip.GetCount(); ++i) {
    const CZipFileHeader& header = zip.GetFileInfo(i);
    std::string relative;
    // A refused name writes nothing.
    if (!CZipArchive::SafeRelativeName(header.name(), relative)) continue;
    const std::string native = platform::ToNativePath(relative);
    // The path as its components, without empty ones, as the files are made.
    uint64_t hash = kHashStart;
    bool empty = true;
    size_t start = 0;
    while (start < native.size()) {
      size_t end = native.find('/', start);
      if (end == std::string::npos) end = native.size();
      if (end == start) {
        ++start;
        continue;
      }
      const std::string_view part(native.data() + start, end - start);
      // Refused when written; made safe here by not running beside others.
      if (part == "." || part == "..") return false;
      if (!empty) {
        folders.insert(hash);
        if (++checked > kMostCheckedFolders) return false;
        hash = HashMore(hash, '/');
      }
      for (char c : part) hash = HashMore(hash, c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      empty = false;
      start = end + 1;
    }
    if (empty) continue;
    if (header.IsDirectory()) {
      folders.insert(hash);
    } else if (!files.insert(hash).second) {
      return false;
    }
  }
  for (uint64_t file : files) {
    if (folders.count(file)) return false;
  }
  return true;
}

EntryFailure ExtractEntriesInParallel(CZipArchive& zip, const std::string& directory,
                                      size_t threads) {
  FirstFailure first;
  std::vector<size_t> files;
  for (size_t i = 0; i < zip.GetCount(); ++i) {
    if (!zip.GetFileInfo(i).IsDirectory()) {
      files.push_back(i);
      continue;
    }
    // Directories are few and quick: in order, before any file.
    if (i >= first.limit()) break;
    EntryFailure failure;
    if (!ExtractOne(zip, i, directory, failure)) first.Report(std::move(failure));
  }

  // A second reader that cannot be opened (no descriptor left) leaves its
  // share to the others.
  std::vector<std::unique_ptr<CZipArchive>> readers;
  for (size_t t = 1; t < threads; ++t) {
    auto reader = std::make_unique<CZipArchive>();
    try {
      reader->OpenAlongside(zip);
    } catch (const CPlatformException&) {
      break;
    }
    readers.push_back(std::move(reader));
  }
  std::atomic<size_t> next{0};
  {
    std::vector<std::jthread> helpers;
    for (auto& reader : readers) {
      try {
        helpers.emplace_back(
            [&, r = reader.get()] { ExtractFiles(*r, directory, files, next, first); });
      } catch (const std::system_error&) {
        break;  // no thread to be had: the others do its share
      }
    }
    ExtractFiles(zip, directory, files, next, first);
  }
  for (auto& reader : readers) reader->Close();
  return first.Take();
}
