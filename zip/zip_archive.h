// Reading book packages: open an archive, read its central directory, and
// extract one entry at a time into a directory, streaming each entry
// through fixed buffers so that any entry size needs constant memory.
//
// Archives whose entries overlap each other or the central directory are
// refused at Open, and no entry writes more than its declared size, so a
// package can never expand past the sum of its declared sizes.
//
// Extracted names are made safe first: a drive and leading separators are
// removed, and a name with a ".." component, which would lead outside the
// destination, is refused. Files are created as regular files below the
// destination without following links (platform/output_file.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/output_file.h"
#include "zip/zip_auto_buffer.h"
#include "zip/zip_central_dir.h"
#include "zip/zip_file_header.h"
#include "zip/zip_internal_info.h"
#include "zip/zip_storage.h"

// The tail of the message of an entry that could not be written.
inline constexpr const char* kEntryWriteFailedTail = "无法正确写入，请检查是否被杀毒软件阻止！";
// The tail of the message of an entry whose name leads outside the
// destination.
inline constexpr const char* kEntryUnsafeNameTail = "：文件路径超出安装目录，已拒绝解压！";

class CZipArchive {
 public:
  // Entry data is handed to the output in blocks of this size.
  static constexpr size_t kOutputBlockSize = 256 * 1024;

  CZipArchive() = default;
  ~CZipArchive();
  CZipArchive(const CZipArchive&) = delete;
  CZipArchive& operator=(const CZipArchive&) = delete;

  // Opens the archive and reads its central directory. Raises
  // CFileException when the file cannot be opened, CZipException for a bad
  // archive.
  void Open(const std::string& path);
  // Opens the archive that other has open for a second reader: the same
  // file through a descriptor of its own and a copy of the central directory
  // as other read it, so that another thread can extract entries of it at
  // the same time. Raises CFileException.
  void OpenAlongside(const CZipArchive& other);
  bool IsOpen() const { return storage_.IsOpen(); }
  size_t GetCount() const { return central_dir_.headers().size(); }
  const CZipFileHeader& GetFileInfo(size_t index) const { return central_dir_.headers().at(index); }
  const std::string& GetComment() const { return central_dir_.comment(); }
  uint64_t GetBytesBeforeZip() const { return central_dir_.bytes_before_zip(); }
  // The sum of the entries' declared uncompressed sizes; no entry writes
  // more than its own, so extracting every entry writes at most this.
  uint64_t GetDeclaredSize() const { return central_dir_.declared_size(); }

  // Writes entry index below destination; the folders met stay open for the
  // next entries until Close (platform::OutputTree). True when the entry was written
  // completely and its CRC-32 matched. False for an encrypted entry, short
  // data, attributes that could not be set (message untouched), for a file
  // that could not be created or written or data that could not be inflated
  // (message: output path and kEntryWriteFailedTail), and for a name leading
  // outside the destination (message: the name and kEntryUnsafeNameTail).
  // Raises CZipException for a CRC-32 mismatch (after the bytes have been
  // written) or damaged headers.
  bool ExtractEntry(size_t index, const std::string& destination, std::string& message);

  // Ends an entry still open, applies the modes of directory entries that
  // would have blocked later entries, drops the directory and closes the
  // file. Nothing is written to the archive.
  void Close();

  // The path below the destination that an entry name extracts to: any drive
  // and leading separators removed. False when the name holds a ".."
  // component or a zero byte.
  static bool SafeRelativeName(const std::string& name, std::string& relative);

 private:
  enum class EntryResult { kComplete, kShort, kAttributesFailed, kTimesFailed };

  bool OpenEntry(size_t index);
  size_t ReadEntryData(uint8_t* buffer, size_t count);
  void RefillInput();
  // Ends the open entry; with check, checks its CRC-32 and the data
  // descriptor (raising on a mismatch) and reports whether it is complete.
  bool CloseEntry(bool check);

  CZipStorage storage_;
  CZipCentralDir central_dir_;
  bool entry_open_ = false;
  CZipFileHeader current_;
  CZipInternalInfo info_;
  // Kept from entry to entry: the block entry data is written from, and the
  // directories of the last file written.
  CZipAutoBuffer output_block_;
  std::unique_ptr<platform::OutputTree> output_tree_;
  // Directories whose own mode (no owner write or search) would have kept
  // later entries out; they get it at Close.
  std::vector<std::pair<std::string, std::pair<std::string, unsigned>>> deferred_modes_;
};
