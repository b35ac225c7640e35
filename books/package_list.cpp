#include "books/package_list.h"

#include "app/sealed_file.h"
#include "books/book_paths.h"
#include "util/file_io.h"
#include "util/string_split.h"

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
    // Blanks at the end never count: the digest is trimmed below.
    line = TrimWhiteSpace(line);
    for (char& c : line)
      if (c == '\t') c = ' ';
    size_t blank = line.find(' ');
    if (blank == std::string::npos || blank == 0) continue;
    std::string digest = TrimWhiteSpace(line.substr(blank + 1));
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
