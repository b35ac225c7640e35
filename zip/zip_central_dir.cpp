#include "zip/zip_central_dir.h"

#include <algorithm>
#include <vector>

#include "zip/zip_exception.h"
#include "zip/zip_storage.h"

namespace {

constexpr uint64_t kSearchChunk = 32768;

}  // namespace

uint64_t CZipCentralDir::FindEndRecord(CZipStorage& storage) {
  uint64_t length = storage.Length();
  if (length == 0) ThrowZipError(kZipNoEndRecord, storage.path());
  uint64_t window_start = length - std::min(length, kEndSearchWindow);
  std::vector<uint8_t> chunk(kSearchChunk);
  uint64_t chunk_end = length;
  for (;;) {
    uint64_t chunk_start =
        chunk_end > window_start + kSearchChunk ? chunk_end - kSearchChunk : window_start;
    size_t size = static_cast<size_t>(chunk_end - chunk_start);
    storage.Seek(chunk_start);
    if (storage.Read(chunk.data(), size) != size) ThrowZipError(kZipBadArchive, storage.path());
    // Nearest to the end first.
    for (size_t i = size >= 4 ? size - 4 + 1 : 0; i-- > 0;) {
      if (ReadLe32(chunk.data() + i) == kEndRecordSignature) return chunk_start + i;
    }
    if (chunk_start == window_start) break;
    // The next chunk reaches 3 bytes into this one, so a signature that
    // straddles the border is seen whole.
    chunk_end = chunk_start + 3;
  }
  ThrowZipError(kZipNoEndRecord, storage.path());
}

void CZipCentralDir::Read(CZipStorage& storage) {
  Clear();
  const std::string& path = storage.path();
  uint64_t position = FindEndRecord(storage);
  storage.Seek(position);
  uint8_t r[kEndRecordSize];
  storage.ReadExact(r, sizeof r);
  uint16_t this_disk = ReadLe16(r + 4);
  uint16_t directory_disk = ReadLe16(r + 6);
  uint16_t total = ReadLe16(r + 10);
  uint32_t directory_size = ReadLe32(r + 12);
  uint32_t directory_offset = ReadLe32(r + 16);
  uint16_t comment_length = ReadLe16(r + 20);
  comment_.resize(comment_length);
  storage.ReadExact(comment_.data(), comment_length);

  // Spanned archives are never produced for books; refused as damaged.
  if (this_disk != 0 || directory_disk != 0) ThrowZipError(kZipBadArchive, path);
  uint64_t directory_end = static_cast<uint64_t>(directory_offset) + directory_size;
  if (position < directory_end) ThrowZipError(kZipBadArchive, path);
  bytes_before_zip_ = position - directory_end;
  if ((directory_size == 0) != (total == 0)) ThrowZipError(kZipBadArchive, path);
  // Each header takes at least 46 bytes; a total the directory cannot hold
  // is damage, found before anything is allocated for it.
  if (static_cast<uint64_t>(total) * kCentralHeaderSize > directory_size)
    ThrowZipError(kZipBadArchive, path);

  storage.Seek(bytes_before_zip_ + directory_offset);
  headers_.resize(total);
  for (auto& header : headers_) header.ReadCentral(storage);
  CheckEntriesApart(directory_offset, path);
}

void CZipCentralDir::CheckEntriesApart(uint64_t directory_offset, const std::string& path) {
  std::vector<size_t> order(headers_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [this](size_t a, size_t b) {
    return headers_[a].local_header_offset < headers_[b].local_header_offset;
  });
  entry_limits_.assign(headers_.size(), directory_offset);
  declared_size_ = 0;
  for (size_t n = 0; n < order.size(); ++n) {
    const CZipFileHeader& header = headers_[order[n]];
    uint64_t limit = n + 1 < order.size() ? headers_[order[n + 1]].local_header_offset
                                          : directory_offset;
    // The local extra field is not known yet; OpenEntry checks with it.
    if (header.local_header_offset + header.LeastStoredSize() > limit)
      ThrowZipError(kZipBadArchive, path);
    entry_limits_[order[n]] = limit;
    declared_size_ += header.uncompressed_size;
  }
}

void CZipCentralDir::Clear() {
  headers_.clear();
  headers_.shrink_to_fit();
  entry_limits_.clear();
  entry_limits_.shrink_to_fit();
  declared_size_ = 0;
  bytes_before_zip_ = 0;
  comment_.clear();
}
