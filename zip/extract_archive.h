// Unpacking a whole archive into a directory, as the installation of a book
// does it and as the admin tool offers it: the directory is emptied first,
// then every entry is extracted, stopping at the first entry that fails.
// A large package whose entries do not depend on each other's order is
// unpacked by two threads; the outcome is still the one of the archive
// order (the first failing entry in archive order is the one reported, every
// entry before it written), though entries after it may have been written.
#pragma once

#include <cstdint>
#include <string>

inline constexpr int kExtractOk = 0;
inline constexpr int kExtractFailedException = 1010001;  // the reader or the file system raised
inline constexpr int kExtractEntryFailed = 1010002;      // one entry could not be written
inline constexpr int kExtractDirectoryBusy = 1010008;    // the old directory could not be removed

inline constexpr const char* kDirectoryBusyMessage =
    "安装目录无法清除，该教材的部分文件可能正在使用中，建议重启机器";
inline constexpr const char* kExtractExceptionPrefix = "解压异常：";
// The longest exception description that goes into a message, in bytes.
inline constexpr size_t kMaxExceptionDescription = 900;

struct ExtractReport {
  size_t entries_total = 0;
  size_t entries_written = 0;
  // What went wrong, in words for logs and the admin tool (code page 936);
  // empty on success.
  std::string detail;
};

// The sum of the archive's declared uncompressed sizes, which is the most
// ExtractArchive writes into the directory. False when the archive cannot
// be opened or is refused (its extraction then fails with the reason).
[[nodiscard]] bool ReadDeclaredSize(const std::string& archive, uint64_t& bytes);

// One of the codes above. message is emptied first and then holds, on
// failure: kDirectoryBusyMessage; the failing entry's own message (possibly
// empty); or kExtractExceptionPrefix with the exception's description.
int ExtractArchive(const std::string& archive, const std::string& directory, std::string& message,
                   ExtractReport* report = nullptr);
