#include "zip/zip_archive.h"

#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "platform/output_file.h"
#include "platform/shared_directory.h"
#include "zip/zip_dos_time.h"
#include "zip/zip_exception.h"

CZipArchive::~CZipArchive() {
  Close();
}

void CZipArchive::Open(const std::string& path) {
  Close();
  storage_.Open(path);
  try {
    central_dir_.Read(storage_);
  } catch (...) {
    Close();
    throw;
  }
}

void CZipArchive::OpenAlongside(const CZipArchive& other) {
  Close();
  storage_.OpenDuplicateOf(other.storage_);
  central_dir_ = other.central_dir_;
}

void CZipArchive::Close() {
  if (entry_open_) CloseEntry(false);
  output_tree_.reset();
  output_block_.Release();
  info_.ReleaseBuffer();
  // Deepest first, so that a parent losing its write bit comes last.
  for (auto it = deferred_modes_.rbegin(); it != deferred_modes_.rend(); ++it) {
    (void)platform::SetDirectoryModeBelow(it->first, it->second.first, it->second.second);
  }
  deferred_modes_.clear();
  central_dir_.Clear();
  storage_.Close();
}

bool CZipArchive::SafeRelativeName(const std::string& name, std::string& relative) {
  relative.clear();
  if (name.find('\0') != std::string::npos) return false;
  std::string rest = name;
  if (rest.size() >= 2 && rest[1] == ':' &&
      ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z')))
    rest.erase(0, 2);
  size_t start = rest.find_first_not_of('/');
  rest = start == std::string::npos ? std::string() : rest.substr(start);
  size_t from = 0;
  while (from <= rest.size()) {
    size_t end = rest.find('/', from);
    if (end == std::string::npos) end = rest.size();
    if (rest.compare(from, end - from, "..") == 0) return false;
    from = end + 1;
  }
  relative = rest;
  return true;
}

bool CZipArchive::OpenEntry(size_t index) {
  if (index >= GetCount() || entry_open_) return false;
  const CZipFileHeader& central = central_dir_.headers()[index];
  const std::string& path = storage_.path();
  if (central.method != kMethodStored && central.method != kMethodDeflated)
    ThrowZipError(kZipBadArchive, path);
  // No password is ever set.
  if (central.IsEncrypted()) return false;

  storage_.Seek(central_dir_.bytes_before_zip() + central.local_header_offset);
  uint8_t h[kLocalHeaderSize];
  storage_.ReadExact(h, sizeof h);
  bool consistent = ReadLe32(h) == kLocalHeaderSignature && ReadLe16(h + 6) == central.flags &&
                    ReadLe16(h + 8) == central.method &&
                    ReadLe16(h + 26) == central.RawName().size();
  if (consistent && !(central.flags & kFlagDataDescriptor)) {
    consistent = ReadLe32(h + 14) == central.crc32 && ReadLe32(h + 18) == central.compressed_size &&
                 ReadLe32(h + 22) == central.uncompressed_size;
  }
  if (!consistent) ThrowZipError(kZipBadArchive, path);
  uint16_t name_length = ReadLe16(h + 26);
  uint16_t extra_length = ReadLe16(h + 28);
  // With the local extra field known, the entry must still end before the
  // next one begins.
  uint64_t end = central.LeastStoredSize() + central.local_header_offset + extra_length;
  if (end > central_dir_.entry_limit(index)) ThrowZipError(kZipBadArchive, path);
  storage_.Seek(central_dir_.bytes_before_zip() + central.local_header_offset + kLocalHeaderSize +
                name_length + extra_length);

  current_ = central;
  info_.AllocateBuffer();
  info_.buffer_available = 0;
  info_.buffer_position = 0;
  info_.compressed_left = central.compressed_size;
  info_.uncompressed_left = central.uncompressed_size;
  info_.crc = 0;
  info_.stream_ended = false;
  if (central.method == kMethodDeflated) {
    int rc = info_.BeginInflate();
    if (rc != Z_OK) ThrowZipError(rc, path);
  }
  entry_open_ = true;
  return true;
}

void CZipArchive::RefillInput() {
  size_t count = static_cast<size_t>(
      std::min<uint64_t>(info_.compressed_left, CZipInternalInfo::kReadBufferSize));
  size_t got = storage_.Read(info_.buffer.data(), count);
  // A file shorter than its directory says: the data ends here.
  if (got < count) info_.compressed_left = got;
  info_.compressed_left -= got;
  info_.buffer_position = 0;
  info_.buffer_available = got;
}

size_t CZipArchive::ReadEntryData(uint8_t* buffer, size_t count) {
  const std::string& path = storage_.path();
  size_t produced = 0;
  while (produced < count && !info_.stream_ended) {
    size_t step = 0;
    if (current_.method == kMethodDeflated) {
      if (info_.buffer_available == 0 && info_.compressed_left > 0) RefillInput();
      z_stream& z = info_.stream;
      z.next_in = info_.buffer.data() + info_.buffer_position;
      z.avail_in = static_cast<uInt>(info_.buffer_available);
      z.next_out = buffer + produced;
      z.avail_out = static_cast<uInt>(count - produced);
      int rc = inflate(&z, Z_SYNC_FLUSH);
      size_t used = info_.buffer_available - z.avail_in;
      info_.buffer_position += used;
      info_.buffer_available -= used;
      step = count - produced - z.avail_out;
      if (rc == Z_STREAM_END) {
        info_.stream_ended = true;
      } else if (rc != Z_OK) {
        // Also a stream cut short: inflate can make no progress (Z_BUF_ERROR).
        ThrowZipError(rc, path);
      }
    } else {
      // Stored data goes straight to the caller's block, without a copy.
      size_t want =
          static_cast<size_t>(std::min<uint64_t>(info_.compressed_left, count - produced));
      if (want == 0) break;
      step = storage_.Read(buffer + produced, want);
      // A file shorter than its directory says: the data ends here.
      info_.compressed_left = step < want ? 0 : info_.compressed_left - step;
      if (step == 0) break;
    }
    // Never more than the entry says: a lying size must not fill the disk.
    if (step > info_.uncompressed_left) ThrowZipError(kZipBadArchive, path);
    info_.crc = static_cast<uint32_t>(crc32(info_.crc, buffer + produced, static_cast<uInt>(step)));
    info_.uncompressed_left -= step;
    produced += step;
  }
  return produced;
}

bool CZipArchive::CloseEntry(bool check) {
  bool complete = info_.uncompressed_left == 0;
  bool data_consumed = info_.compressed_left == 0 && info_.buffer_available == 0;
  uint32_t crc = info_.crc;
  info_.EndInflate();
  entry_open_ = false;
  if (!check) return false;
  const std::string& path = storage_.path();
  if (complete && crc != current_.crc32) ThrowZipError(kZipBadCrc, path);
  if (complete && data_consumed && (current_.flags & kFlagDataDescriptor)) {
    uint8_t d[16];
    storage_.ReadExact(d, 4);
    size_t offset = 0;
    if (ReadLe32(d) == kDataDescriptorSignature) {
      storage_.ReadExact(d + 4, 12);
      offset = 4;
    } else {
      storage_.ReadExact(d + 4, 8);
    }
    if (ReadLe32(d + offset) != current_.crc32 ||
        ReadLe32(d + offset + 4) != current_.compressed_size ||
        ReadLe32(d + offset + 8) != current_.uncompressed_size)
      ThrowZipError(kZipBadArchive, path);
  }
  return complete;
}

bool CZipArchive::ExtractEntry(size_t index, const std::string& destination, std::string& message) {
  if (index >= GetCount()) return false;
  const CZipFileHeader header = central_dir_.headers()[index];
  std::string root = destination;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  std::string relative;
  if (!SafeRelativeName(header.name(), relative)) {
    message = header.name() + kEntryUnsafeNameTail;
    return false;
  }
  std::string output_path = root + "/" + relative;
  unsigned umask = platform::ProcessUmask();

  if (header.IsDirectory()) {
    while (!relative.empty() && relative.back() == '/') relative.pop_back();
    if (relative.empty()) return true;
    if (!platform::CreateDirectoriesBelow(root, relative)) {
      message = output_path + kEntryWriteFailedTail;
      return false;
    }
    unsigned mode = platform::SharedDirectoryMode(header.DirectoryMode(umask));
    if ((mode & S_IRWXU) == S_IRWXU)
      (void)platform::SetDirectoryModeBelow(root, relative, mode);
    else
      deferred_modes_.push_back({root, {relative, mode}});
    return true;
  }

  if (!OpenEntry(index)) return false;
  if (!output_tree_ || output_tree_->root() != root)
    output_tree_ = std::make_unique<platform::OutputTree>(root);
  platform::OutputFile output = output_tree_->CreateFile(relative);
  bool written = output.IsOpen();
  try {
    if (output_block_.size() != kOutputBlockSize) output_block_.Allocate(kOutputBlockSize);
    uint8_t* block = output_block_.data();
    while (written) {
      size_t n = ReadEntryData(block, kOutputBlockSize);
      if (n > 0 && !output.Write(block, n)) written = false;
      if (n < kOutputBlockSize) break;
    }
  } catch (const CPlatformException&) {
    written = false;
  }
  if (!written) {
    message = output_path + kEntryWriteFailedTail;
    CloseEntry(false);
    return false;
  }

  EntryResult result = CloseEntry(true) ? EntryResult::kComplete : EntryResult::kShort;
  if (result == EntryResult::kComplete) {
    if (!output.SetModifiedTime(DosDateTimeToUnix(header.dos_date, header.dos_time)))
      result = EntryResult::kTimesFailed;
    if (!output.SetMode(platform::SharedMode(header.FileMode(umask))))
      result = EntryResult::kAttributesFailed;
  }
  if (!output.Close() && result == EntryResult::kComplete) {
    message = output_path + kEntryWriteFailedTail;
    return false;
  }
  return result == EntryResult::kComplete;
}
