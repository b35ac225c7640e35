// Whole-file reads and writes, ranges, appends and directory creation.
// Paths are code page 936 texts with "/" separators. Failures are reported
// through the result; the OS error stays in platform::LastErrorCode().
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// True when the path names an existing file or directory.
bool FileExists(const std::string& path);

// The size of a readable file, in 64 bits.
bool GetFileSizeOf(const std::string& path, uint64_t& size);

// Creates the directory named by the text before every separator of path;
// the last part is not created. "Already exists" and other failures are
// ignored; always true.
bool CreateParentDirectories(const std::string& path);

// Creates every directory along path, path itself included; true when the
// path exists afterwards (as a directory or as a file).
bool CreateDirectoryTree(const std::string& path);

// The whole content of a non-empty file. False, with data cleared, when the
// file cannot be opened or is empty. data.c_str() is zero-terminated.
bool ReadWholeFile(const std::string& path, std::string& data);

// One read of up to count bytes, at offset when given.
bool ReadFileRange(void* buffer, uint32_t count, uint32_t& bytes_read, const std::string& path,
                   std::optional<int64_t> offset = std::nullopt);

// Creates the parent directories, then creates or truncates the file and
// writes all bytes.
bool WriteWholeFile(const void* data, size_t size, const std::string& path);

// As WriteWholeFile, returning only once the data is on the disk.
bool WriteWholeFileThrough(const void* data, size_t size, const std::string& path);

// Replaces the file as a whole: a temporary file in the same directory is
// written, flushed to the disk and renamed over the old one, so a crash or a
// full disk leaves either the old or the new content. Parent directories are
// created.
bool WriteWholeFileAtomically(const void* data, size_t size, const std::string& path);

// Creates the parent directories, opens or creates the file with
// write-through and appends the bytes.
bool AppendBytesToFile(const void* data, size_t size, const std::string& path);

// Appends to a non-empty existing file, otherwise writes the file anew.
bool AppendTextToFile(const std::string& text, const std::string& path);
