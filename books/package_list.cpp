#include "books/package_list.h"

#include "app/sealed_file.h"
#include "books/book_paths.h"
#include "util/file_io.h"

namespace {

bool IsWhiteSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string Trim(const std::string& text) {
  size_t start = 0;
  size_t end = text.size();
  while (start < end && IsWhiteSpace(text[start])) ++start;
  while (end > start && IsWhiteSpace(text[end - 1])) --end;
  return text.substr(start, end - start);
}

}  // namespace

void ParsePackageList(PackageList& list, const std::string& text, const std::string& gid) {
  list.package_ids.clear();
  list.digests.clear();
  list.gid = gid;
  size_t from = 0;
  while (from <= text.size()) {
    size_t end = text.find("\r\n", from);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(from, end - from);
    from = end + 2;
    size_t start = 0;
    while (start < line.size() && IsWhiteSpace(line[start])) ++start;
    line.erase(0, start);
    for (char& c : line)
      if (c == '\t') c = ' ';
    size_t blank = line.find(' ');
    if (blank == std::string::npos || blank == 0) continue;
    std::string digest = Trim(line.substr(blank + 1));
    if (digest.size() != 32) continue;
    list.package_ids.push_back(line.substr(0, blank));
    list.digests.push_back(digest);
  }
}

std::string PackageListText(const PackageList& list) {
  std::string text;
  for (size_t i = 0; i < list.package_ids.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += list.package_ids[i] + " " + (i < list.digests.size() ? list.digests[i] : std::string());
  }
  return text;
}

int WritePackageList(const PackageList& list) {
  std::string path = PackageListPath(list.gid);
  CreateParentDirectories(path);
  return WriteSealedFile(PackageListText(list), path);
}
