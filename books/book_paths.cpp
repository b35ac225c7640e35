#include "books/book_paths.h"

#include <vector>

#include "platform/codepage.h"
#include "util/file_io.h"
#include "util/path_names.h"

namespace {

std::string BookInfoDirectory() {
  return JoinPath(GetProgramDirectory(), "data/bookinf");
}

// ASCII lower case; double-byte characters are left alone.
std::string LowerAscii(const std::string& text) {
  std::string lower = text;
  for (size_t i = 0; i < lower.size(); ++i) {
    auto c = static_cast<unsigned char>(lower[i]);
    if (platform::IsGbkLeadByte(c) && i + 1 < lower.size())
      ++i;
    else if (c >= 'A' && c <= 'Z')
      lower[i] = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// Drops "." and ".." components, so that a path from outside cannot climb
// above the directory it is joined to. Other components, and separators,
// stay as they are.
std::string DropDotComponents(const std::string& path) {
  std::string out;
  size_t from = 0;
  while (from <= path.size()) {
    size_t end = path.find('/', from);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(from, end - from);
    if (part != "." && part != "..") {
      out += part;
      if (end < path.size()) out += '/';
    }
    from = end + 1;
  }
  return out;
}

// The components of a path, without empty and "." ones; ".." ones too
// unless keep_parents.
std::vector<std::string> Components(const std::string& path, bool keep_parents) {
  std::vector<std::string> parts;
  size_t from = 0;
  while (from <= path.size()) {
    size_t end = path.find('/', from);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(from, end - from);
    if (!part.empty() && part != "." && (keep_parents || part != "..")) parts.push_back(part);
    from = end + 1;
  }
  return parts;
}

bool EndsWith(const std::string& text, const std::string& ending) {
  return text.size() > ending.size() &&
         text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

std::string WithoutLeadingSlashes(const std::string& text) {
  size_t start = text.find_first_not_of('/');
  return start == std::string::npos ? std::string() : text.substr(start);
}

std::string WithoutTrailingSlashes(std::string text) {
  while (!text.empty() && text.back() == '/') text.pop_back();
  return text;
}

}  // namespace

bool HasWebScheme(const std::string& lower_text) {
  return lower_text.find("http://") != std::string::npos ||
         lower_text.find("https://") != std::string::npos;
}

std::string RecordPath(const std::string& book_id) {
  return JoinPath(BookInfoDirectory(), book_id + ".inf");
}

std::string DamagedRecordPath(const std::string& record_path) {
  return record_path + ".err";
}

std::string PackageListPath(const std::string& gid) {
  return JoinPath(BookInfoDirectory(), gid + ".lst");
}

bool IsPlainFileName(const std::string& text) {
  if (text.empty() || text == "." || text == "..") return false;
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (platform::IsGbkLeadByte(c) && i + 1 < text.size()) {
      ++i;  // a trail byte may be 0x5C without being a separator
    } else if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) {
      return false;
    }
  }
  return true;
}

bool IsSafeUid(const std::string& uid) {
  return IsPlainFileName(uid);
}

std::string CataloguePath(const std::string& uid) {
  if (!IsSafeUid(uid)) return {};
  return JoinPath(GetProgramDirectory(), "data/user/" + uid + "/bs.dat");
}

std::string LegacyCataloguePath(const std::string& uid) {
  if (!IsSafeUid(uid)) return {};
  return JoinPath(GetProgramDirectory(), "data/" + uid + "/bs.dat");
}

std::string LegacyBookListPath(const std::string& uid) {
  if (!IsSafeUid(uid)) return {};
  return JoinPath(GetProgramDirectory(), "data/" + uid + "/bsd.dat");
}

std::string PackagePath(const std::string& book_url, const std::string& book_id,
                        const std::string& base) {
  std::string u = WithoutLeadingSlashes(ForwardSlashes(book_url));
  std::string l = LowerAscii(u);
  std::string rel;
  if (!HasWebScheme(l)) {
    rel = "data/books/" + (l.compare(0, 5, "data/") == 0 ? u.substr(5) : u);
  } else {
    size_t p = l.find("/data/");
    if (p != std::string::npos && p > 0)
      rel = "data/books" + u.substr(p + 5);
    else
      rel = JoinPath("data/books", GetFileNameFromPath(u));
  }
  size_t slash = rel.rfind('/');
  rel = rel.substr(0, slash + 1) + ForwardSlashes(book_id) + ".zip";
  std::string path = JoinPath(base, DropDotComponents(rel));
  CreateParentDirectories(path);
  return path;
}

std::string InstallDirPath(const std::string& package_path) {
  const std::string kZip = ".zip";
  if (package_path.size() >= kZip.size() &&
      package_path.compare(package_path.size() - kZip.size(), kZip.size(), kZip) == 0)
    return package_path.substr(0, package_path.size() - kZip.size());
  return package_path;
}

// "\" separators become "/", character by character.

std::string DataServerUrl(const std::string& path, const std::string& root) {
  std::string u = WithoutLeadingSlashes(path);
  return HasWebScheme(LowerAscii(u)) ? u : WithoutTrailingSlashes(root) + "/" + u;
}

std::string PackageUrl(const std::string& book_url, const std::string& package_id,
                       const std::string& root) {
  std::string url = DataServerUrl(book_url, root);
  size_t slash = url.rfind('/');
  if (slash != std::string::npos) url = url.substr(0, slash + 1) + package_id + ".zip";
  return url;
}

std::string DigestUrl(const std::string& book_url, const std::string& package_id,
                      const std::string& root) {
  return PackageUrl(book_url, package_id, root) + ".MD5";
}

std::string CoverImagePath(const std::string& image_url, const std::string& base) {
  return JoinPath(base, DropDotComponents(ForwardSlashes(image_url)));
}

bool IsAllowedCoverPath(const std::string& image_url) {
  std::vector<std::string> parts = Components(ForwardSlashes(image_url), false);
  if (parts.empty()) return false;
  std::string name = LowerAscii(parts.back());
  bool image = false;
  for (const char* ending : {".jpg", ".jpeg", ".png", ".gif", ".bmp"}) {
    image = image || EndsWith(name, ending);
  }
  if (!image) return false;
  // Folders of the program's own files, compared as a file system that
  // ignores case would.
  std::string first = LowerAscii(parts[0]);
  if (first == "system" || first == "dtm") return false;
  if (first == "data" && parts.size() > 2) {
    std::string second = LowerAscii(parts[1]);
    if (second == "bookinf" || second == "user") return false;
  }
  return true;
}

std::string ReaderProgramPath(const std::string& install_dir, const std::string& book_reader) {
  std::string reader = ForwardSlashes(book_reader);
  if (reader.empty() || reader[0] == '/') return {};
  std::string name = GetFileNameFromPath(reader);
  if (name.empty() || name == ".") return {};
  for (const std::string& part : Components(reader, true)) {
    if (part == "..") return {};
  }
  return JoinPath(install_dir, reader);
}
