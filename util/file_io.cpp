#include "util/file_io.h"

#include "platform/file_system.h"
#include "util/path_names.h"

using platform::Durability;
using platform::File;
using platform::kPathSeparator;
using platform::OpenMode;

bool FileExists(const std::string& path) {
  return !path.empty() && platform::PathExists(path);
}

bool GetFileSizeOf(const std::string& path, uint64_t& size) {
  File file(path, OpenMode::kRead);
  if (!file.IsOpen()) return false;
  int64_t n = file.Size();
  if (n < 0) return false;
  size = static_cast<uint64_t>(n);
  return true;
}

bool CreateParentDirectories(const std::string& path) {
  for (size_t i = 1; i < path.size(); ++i) {
    if (path[i] == kPathSeparator && path[i - 1] != kPathSeparator) {
      platform::MakeDirectory(path.substr(0, i));
    }
  }
  return true;
}

bool CreateDirectoryTree(const std::string& path) {
  CreateParentDirectories(path + kPathSeparator);
  return FileExists(path);
}

bool ReadWholeFile(const std::string& path, std::string& data) {
  data.clear();
  File file(path, OpenMode::kRead);
  if (!file.IsOpen()) return false;
  int64_t size = file.Size();
  if (size <= 0) return false;
  data.resize(static_cast<size_t>(size));
  size_t got = 0;
  while (got < data.size()) {
    int64_t n = file.Read(data.data() + got, data.size() - got);
    if (n < 0) {
      data.clear();
      return false;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  if (got == 0) {
    data.clear();
    return false;
  }
  // A file that shrank while it was read gives what was there.
  data.resize(got);
  return true;
}

bool ReadFileRange(void* buffer, uint32_t count, uint32_t& bytes_read, const std::string& path,
                   std::optional<int64_t> offset) {
  bytes_read = 0;
  File file(path, OpenMode::kRead);
  if (!file.IsOpen()) return false;
  if (offset && file.Seek(*offset) != *offset) return false;
  int64_t n = file.Read(buffer, count);
  if (n < 0) return false;
  bytes_read = static_cast<uint32_t>(n);
  return true;
}

namespace {

bool WriteFile(const void* data, size_t size, const std::string& path, Durability durability) {
  CreateParentDirectories(path);
  File file(path, OpenMode::kCreateTruncate, durability);
  if (!file.IsOpen()) return false;
  bool ok = file.Write(data, size);
  return file.Close() && ok;
}

}  // namespace

bool WriteWholeFile(const void* data, size_t size, const std::string& path) {
  return WriteFile(data, size, path, Durability::kBuffered);
}

bool WriteWholeFileThrough(const void* data, size_t size, const std::string& path) {
  return WriteFile(data, size, path, Durability::kWriteThrough);
}

bool WriteWholeFileAtomically(const void* data, size_t size, const std::string& path) {
  CreateParentDirectories(path);
  return platform::ReplaceFileAtomically(path, data, size);
}

bool AppendBytesToFile(const void* data, size_t size, const std::string& path) {
  CreateParentDirectories(path);
  File file(path, OpenMode::kCreateAppend, Durability::kWriteThrough);
  if (!file.IsOpen()) return false;
  bool ok = file.Write(data, size);
  return file.Close() && ok;
}

bool AppendTextToFile(const std::string& text, const std::string& path) {
  uint64_t size = 0;
  if (GetFileSizeOf(path, size) && size > 0)
    return AppendBytesToFile(text.data(), text.size(), path);
  return WriteWholeFile(text.data(), text.size(), path);
}
