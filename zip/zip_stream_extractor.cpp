#include "zip/zip_stream_extractor.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "platform/shared_directory.h"
#include "zip/zip_archive.h"
#include "zip/zip_dos_time.h"
#include "zip/zip_exception.h"
#include "zip/zip_file_header.h"
#include "zip/zip_storage.h"

namespace {

constexpr size_t kOutputBlock = 256 * 1024;
constexpr uint32_t kZip64Marker = 0xFFFFFFFF;

// The mode a file gets before the central directory is known: that of an
// entry without attributes of its own.
unsigned PlainFileMode(unsigned umask) {
  return platform::SharedMode(CZipFileHeader().FileMode(umask));
}

size_t Depth(const std::string& relative) {
  return static_cast<size_t>(std::count(relative.begin(), relative.end(), '/'));
}

}  // namespace

namespace {

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

ZipStreamExtractor::ZipStreamExtractor(std::string destination, uint64_t output_budget,
                                       unsigned share, unsigned shares)
    : destination_(WithoutTrailingSlashes(std::move(destination))),
      budget_(output_budget),
      share_(share),
      shares_(shares == 0 ? 1 : shares),
      tree_(destination_) {
  need_ = kLocalHeaderSize;
}

ZipStreamExtractor::~ZipStreamExtractor() {
  if (inflating_) inflateEnd(&stream_);
}

void ZipStreamExtractor::Stop(std::string reason) {
  if (phase_ == Phase::kStopped) return;
  stop_reason_ = std::move(reason) + " (at byte " + std::to_string(position_) + ")";
  output_.Close();
  if (inflating_) inflateEnd(&stream_);
  inflating_ = false;
  pending_.clear();
  pending_.shrink_to_fit();
  block_.reset();
  phase_ = Phase::kStopped;
}

bool ZipStreamExtractor::Gather(const uint8_t*& data, size_t& size, size_t need) {
  size_t take = std::min(size, need - pending_.size());
  pending_.insert(pending_.end(), data, data + take);
  data += take;
  size -= take;
  position_ += take;
  return pending_.size() == need;
}

void ZipStreamExtractor::Feed(const uint8_t* data, size_t size) {
  while (size > 0) {
    switch (phase_) {
      case Phase::kStopped:
      case Phase::kDirectoryReached:
        position_ += size;
        return;
      case Phase::kLocalHeader: {
        // The signature alone tells whether the entries have ended.
        size_t need = pending_.size() < 4 ? 4 : kLocalHeaderSize;
        if (!Gather(data, size, need)) break;
        uint32_t signature = ReadLe32(pending_.data());
        if (pending_.size() == 4) {
          if (signature == kCentralHeaderSignature || signature == kEndRecordSignature) {
            phase_ = Phase::kDirectoryReached;
            pending_.clear();
          } else if (signature != kLocalHeaderSignature) {
            Stop("no local header where an entry should begin");
          }
          break;
        }
        current_ = Entry{};
        current_.offset = position_ - kLocalHeaderSize;
        const uint8_t* h = pending_.data();
        current_.flags = ReadLe16(h + 6);
        current_.method = ReadLe16(h + 8);
        current_.dos_time = ReadLe16(h + 10);
        current_.dos_date = ReadLe16(h + 12);
        current_.crc32 = ReadLe32(h + 14);
        current_.compressed_size = ReadLe32(h + 18);
        current_.uncompressed_size = ReadLe32(h + 22);
        need_ = kLocalHeaderSize + ReadLe16(h + 26) + ReadLe16(h + 28);
        phase_ = Phase::kNameAndExtra;
        break;
      }
      case Phase::kNameAndExtra:
        if (Gather(data, size, need_)) BeginEntry();
        break;
      case Phase::kData: {
        size_t used = ConsumeData(data, size);
        data += used;
        size -= used;
        position_ += used;
        break;
      }
      case Phase::kDescriptor: {
        if (pending_.size() < 4 && !Gather(data, size, 4)) break;
        // With its optional signature the descriptor takes 16 bytes.
        size_t need = kDataDescriptorLeastSize;
        if (ReadLe32(pending_.data()) == kDataDescriptorSignature) need += 4;
        if (Gather(data, size, need)) CheckDescriptor();
        break;
      }
    }
  }
}

void ZipStreamExtractor::BeginEntry() {
  const uint8_t* h = pending_.data();
  std::string raw(reinterpret_cast<const char*>(h + kLocalHeaderSize), ReadLe16(h + 26));
  pending_.clear();
  Entry& e = current_;
  bool descriptor = (e.flags & kFlagDataDescriptor) != 0;
  if (e.flags & kFlagEncrypted) return Stop("encrypted entry");
  if (e.method != kMethodStored && e.method != kMethodDeflated) return Stop("unknown method");
  if (e.compressed_size == kZip64Marker || e.uncompressed_size == kZip64Marker)
    return Stop("zip64 entry");
  // Stored data of unknown length has no end to find.
  if (descriptor && e.method == kMethodStored) return Stop("stored entry with a data descriptor");
  e.name = ConvertEntryName(raw, (e.flags & kFlagUtf8Name) != 0);
  if (!CZipArchive::SafeRelativeName(e.name, e.relative)) return Stop("unsafe entry name");
  e.directory = !e.name.empty() && e.name.back() == '/';
  std::string key = e.relative;
  while (!key.empty() && key.back() == '/') key.pop_back();
  if (!names_.insert(key).second) return Stop("repeated entry name");

  if (e.directory) {
    if (descriptor || e.compressed_size != 0) return Stop("directory entry with data");
    if (!key.empty() && !platform::CreateDirectoriesBelow(destination_, key))
      return Stop("directory cannot be made");
    entries_.push_back(e);
    phase_ = Phase::kLocalHeader;
    return;
  }
  e.mine = entries_.size() % shares_ == share_;
  if (e.mine) {
    output_ = tree_.CreateFile(e.relative);
    if (!output_.IsOpen()) return Stop("file cannot be created");
  }
  if (!block_) block_.reset(new uint8_t[kOutputBlock]);
  in_count_ = out_count_ = 0;
  crc_ = 0;
  stream_ended_ = false;
  // Another extractor's entry of known size is passed over without inflating.
  if (e.method == kMethodDeflated && (e.mine || descriptor)) {
    stream_ = z_stream{};
    if (inflateInit2(&stream_, -MAX_WBITS) != Z_OK) return Stop("inflater cannot start");
    inflating_ = true;
  }
  phase_ = Phase::kData;
  // An empty stored entry has no data to wait for.
  if (e.method == kMethodStored && e.compressed_size == 0) EndData();
}

bool ZipStreamExtractor::WriteOutput(const uint8_t* data, size_t size) {
  if (!current_.mine) {
    out_count_ += size;
    return true;
  }
  bool known = (current_.flags & kFlagDataDescriptor) == 0;
  if (known && size > current_.uncompressed_size - out_count_) {
    Stop("entry longer than it says");
    return false;
  }
  if (size > budget_ - written_) {
    Stop("package expands beyond the space allowed");
    return false;
  }
  crc_ = static_cast<uint32_t>(crc32(crc_, data, static_cast<uInt>(size)));
  if (!output_.Write(data, size)) {
    Stop("file cannot be written");
    return false;
  }
  out_count_ += size;
  written_ += size;
  return true;
}

size_t ZipStreamExtractor::ConsumeData(const uint8_t* data, size_t size) {
  bool known = (current_.flags & kFlagDataDescriptor) == 0;
  size_t offered = known ? static_cast<size_t>(std::min<uint64_t>(
                               size, current_.compressed_size - in_count_))
                         : size;
  if (current_.method == kMethodStored || !inflating_) {
    if (current_.mine && !WriteOutput(data, offered)) return size;
    if (!current_.mine) out_count_ = current_.uncompressed_size;
    in_count_ += offered;
    if (in_count_ == current_.compressed_size) EndData();
    return offered;
  }
  stream_.next_in = const_cast<uint8_t*>(data);
  stream_.avail_in = static_cast<uInt>(offered);
  while (true) {
    stream_.next_out = block_.get();
    stream_.avail_out = static_cast<uInt>(kOutputBlock);
    int rc = inflate(&stream_, Z_NO_FLUSH);
    size_t produced = kOutputBlock - stream_.avail_out;
    if (produced > 0 && !WriteOutput(block_.get(), produced)) return size;
    if (rc == Z_STREAM_END) {
      stream_ended_ = true;
      break;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      Stop("damaged compressed data");
      return size;
    }
    if (stream_.avail_out != 0) break;  // all input taken that can be
  }
  size_t used = offered - stream_.avail_in;
  in_count_ += used;
  if (stream_ended_) {
    EndData();
  } else if (known && in_count_ == current_.compressed_size) {
    Stop("compressed data ends early");
  }
  return used;
}

void ZipStreamExtractor::EndData() {
  if (inflating_) inflateEnd(&stream_);
  inflating_ = false;
  if (current_.flags & kFlagDataDescriptor) {
    pending_.clear();
    phase_ = Phase::kDescriptor;
    return;
  }
  // An entry of known size that another extractor writes counts as its
  // header says; that one checks it.
  if (!current_.mine) out_count_ = current_.uncompressed_size;
  if (in_count_ != current_.compressed_size || out_count_ != current_.uncompressed_size ||
      (current_.mine && crc_ != current_.crc32))
    return Stop("entry data does not match its header");
  CloseEntry();
}

void ZipStreamExtractor::CheckDescriptor() {
  // Without a signature the first word is the CRC-32 itself.
  size_t at = pending_.size() > kDataDescriptorLeastSize ? 4 : 0;
  const uint8_t* d = pending_.data() + at;
  current_.crc32 = ReadLe32(d);
  current_.compressed_size = ReadLe32(d + 4);
  current_.uncompressed_size = ReadLe32(d + 8);
  pending_.clear();
  if (in_count_ != current_.compressed_size || out_count_ != current_.uncompressed_size ||
      (current_.mine && crc_ != current_.crc32))
    return Stop("entry data does not match its data descriptor");
  CloseEntry();
}

void ZipStreamExtractor::CloseEntry() {
  if (!current_.mine) {
    entries_.push_back(current_);
    need_ = kLocalHeaderSize;
    phase_ = Phase::kLocalHeader;
    return;
  }
  bool timed = output_.SetModifiedTime(DosDateTimeToUnix(current_.dos_date, current_.dos_time));
  bool moded = output_.SetMode(PlainFileMode(platform::ProcessUmask()));
  if (!output_.Close() || !timed || !moded) return Stop("file cannot be finished");
  entries_.push_back(current_);
  need_ = kLocalHeaderSize;
  phase_ = Phase::kLocalHeader;
}

ZipStreamExtractor::Check ZipStreamExtractor::Finish(const std::string& archive,
                                                     std::string& detail) {
  detail.clear();
  if (phase_ == Phase::kStopped) {
    detail = stop_reason_;
    return Check::kCannotFinish;
  }
  if (phase_ != Phase::kDirectoryReached) {
    detail = "the archive ended inside its entries";
    return Check::kCannotFinish;
  }
  CZipArchive zip;
  try {
    zip.Open(archive);
  } catch (const CPlatformException& e) {
    detail = "the central directory cannot be read";
    return Check::kCannotFinish;
  }
  if (zip.GetBytesBeforeZip() != 0) {
    detail = "bytes before the archive";
    return Check::kCannotFinish;
  }
  if (zip.GetCount() != entries_.size()) {
    detail = "the central directory lists " + std::to_string(zip.GetCount()) + " entries, " +
             std::to_string(entries_.size()) + " were unpacked";
    return Check::kDisagrees;
  }
  std::map<uint64_t, const Entry*> by_offset;
  for (const Entry& e : entries_) by_offset[e.offset] = &e;

  const unsigned umask = platform::ProcessUmask();
  const unsigned plain_mode = PlainFileMode(umask);
  struct DirectoryMode {
    std::string relative;
    unsigned mode;
  };
  std::vector<DirectoryMode> directories;
  for (size_t i = 0; i < zip.GetCount(); ++i) {
    const CZipFileHeader& c = zip.GetFileInfo(i);
    auto found = by_offset.find(c.local_header_offset);
    if (found == by_offset.end()) {
      detail = "entry " + c.name() + " was not unpacked";
      return Check::kDisagrees;
    }
    const Entry& e = *found->second;
    if (c.name() != e.name || c.method != e.method || c.crc32 != e.crc32 ||
        c.compressed_size != e.compressed_size || c.uncompressed_size != e.uncompressed_size) {
      detail = "entry " + c.name() + " differs from its local header";
      return Check::kDisagrees;
    }
    // Only the central directory tells a directory by its attributes.
    if (c.IsDirectory() != e.directory) {
      detail = "entry " + c.name() + " is a directory by its attributes";
      return Check::kCannotFinish;
    }
    if (e.directory) {
      if (share_ != 0) continue;
      std::string relative = e.relative;
      while (!relative.empty() && relative.back() == '/') relative.pop_back();
      if (!relative.empty())
        directories.push_back({relative, platform::SharedDirectoryMode(c.DirectoryMode(umask))});
      continue;
    }
    if (!e.mine) continue;
    unsigned mode = platform::SharedMode(c.FileMode(umask));
    if (mode != plain_mode || c.dos_date != e.dos_date || c.dos_time != e.dos_time) {
      if (!platform::SetFileModeAndTimeBelow(destination_, e.relative, mode,
                                             DosDateTimeToUnix(c.dos_date, c.dos_time))) {
        detail = "the attributes of " + c.name() + " cannot be set";
        return Check::kCannotFinish;
      }
    }
  }
  // Deepest first, so that a parent losing its write bit comes last.
  std::stable_sort(directories.begin(), directories.end(),
                   [](const DirectoryMode& a, const DirectoryMode& b) {
                     return Depth(a.relative) > Depth(b.relative);
                   });
  for (const DirectoryMode& d : directories) {
    if (!platform::SetDirectoryModeBelow(destination_, d.relative, d.mode)) {
      detail = "the mode of " + d.relative + " cannot be set";
      return Check::kCannotFinish;
    }
  }
  return Check::kMatches;
}
