// The central directory: the end record and every entry's header.
#pragma once

#include <cstdint>
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
  // Bytes of other data (a self-extracting stub) in front of the archive;
  // every offset read from the archive is shifted by it.
  uint64_t bytes_before_zip() const { return bytes_before_zip_; }
  const std::string& comment() const { return comment_; }
  // Headers are never written back, whatever happens to the archive object.
  bool IsModified() const { return false; }

 private:
  uint64_t FindEndRecord(CZipStorage& storage);

  std::vector<CZipFileHeader> headers_;
  uint64_t bytes_before_zip_ = 0;
  std::string comment_;
};
