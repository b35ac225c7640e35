// The central directory: the end record and every entry's header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zip/zip_file_header.h"

class CZipStorage;

class CZipCentralDir {
 public:
  // The largest stretch at the end of a file that can hold the end record:
  // the record itself and a comment of 65535 bytes.
  static constexpr uint64_t kEndSearchWindow = kEndRecordSize + 65535;

  // Finds the end record and reads every header; raises CZipException.
  void Read(CZipStorage& storage);
  void Clear();

  const std::vector<CZipFileHeader>& headers() const { return headers_; }
  // How far entry index may reach, as an offset in the archive (unshifted):
  // the next local header in the file, or the central directory. Its local
  // header, name, extra field, data and data descriptor end there at the
  // latest.
  uint64_t entry_limit(size_t index) const { return entry_limits_.at(index); }
  // The sum of the entries' declared uncompressed sizes: the most that
  // extracting every entry once can write.
  uint64_t declared_size() const { return declared_size_; }
  // Bytes of other data (a self-extracting stub) in front of the archive;
  // every offset read from the archive is shifted by it.
  uint64_t bytes_before_zip() const { return bytes_before_zip_; }
  const std::string& comment() const { return comment_; }
  // Headers are never written back, whatever happens to the archive object.
  bool IsModified() const { return false; }

 private:
  uint64_t FindEndRecord(CZipStorage& storage);
  // Refuses entries that share bytes with each other or with the central
  // directory (overlapping entries expand one stretch of data many times)
  // and records each entry's limit.
  void CheckEntriesApart(uint64_t directory_offset, const std::string& path);

  std::vector<CZipFileHeader> headers_;
  std::vector<uint64_t> entry_limits_;
  uint64_t declared_size_ = 0;
  uint64_t bytes_before_zip_ = 0;
  std::string comment_;
};
