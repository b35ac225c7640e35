#include "platform/ini_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "platform/codepage.h"
#include "platform/file_system.h"

namespace platform {
namespace {

// Every write in the process goes through this lock, so two threads changing
// different keys of one file cannot lose each other's change.
std::mutex& WriteLock() {
  static std::mutex lock;
  return lock;
}

constexpr std::string_view kBlanks = " \t\r\v\f";
constexpr std::string_view kCrLf = "\r\n";

std::string_view Trim(std::string_view s) {
  size_t begin = s.find_first_not_of(kBlanks);
  if (begin == std::string_view::npos) return {};
  size_t end = s.find_last_not_of(kBlanks);
  return s.substr(begin, end - begin + 1);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && GbkToUpper(a) == GbkToUpper(b);
}

// Position of c in s, skipping the second bytes of double-byte characters
// (which may look like "]").
size_t FindGbk(std::string_view s, char c) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == c) return i;
    if (IsGbkLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ++i;
  }
  return std::string_view::npos;
}

// At most max bytes of s, never ending in half a double-byte character.
std::string Truncate(std::string_view s, size_t max) {
  if (s.size() <= max) return std::string(s);
  size_t i = 0;
  while (i < s.size()) {
    size_t len = IsGbkLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
    if (i + len > max) break;
    i += len;
  }
  return std::string(s.substr(0, i));
}

struct Line {
  std::string text;  // without its line end
  std::string end;   // "\r\n", "\n", or empty for a last line without one
};

enum class LineKind { kOther, kSection, kKey };

struct Parsed {
  LineKind kind = LineKind::kOther;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed
};

Parsed Classify(const Line& line) {
  Parsed p;
  std::string_view t = Trim(line.text);
  if (t.empty() || t.front() == ';') return p;
  if (t.front() == '[') {
    size_t close = FindGbk(t, ']');
    if (close == std::string_view::npos) return p;
    p.kind = LineKind::kSection;
    p.name = Trim(t.substr(1, close - 1));
    return p;
  }
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return p;
  p.kind = LineKind::kKey;
  p.name = Trim(t.substr(0, eq));
  p.value = Trim(t.substr(eq + 1));
  return p;
}

std::vector<Line> SplitLines(const std::string& data) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < data.size()) {
    size_t nl = data.find('\n', pos);
    Line line;
    if (nl == std::string::npos) {
      line.text = data.substr(pos);
      pos = data.size();
    } else {
      size_t end = nl;
      if (end > pos && data[end - 1] == '\r') {
        --end;
        line.end = "\r\n";
      } else {
        line.end = "\n";
      }
      line.text = data.substr(pos, end - pos);
      pos = nl + 1;
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string JoinLines(const std::vector<Line>& lines) {
  std::string out;
  for (const Line& line : lines) {
    out += line.text;
    out += line.end;
  }
  return out;
}

// The file's lines; a missing file gives none. False when it exists but
// cannot be read.
bool LoadLines(std::string_view path, std::vector<Line>& lines, bool& exists) {
  lines.clear();
  exists = false;
  File file(path, OpenMode::kRead);
  if (!file.IsOpen()) return LastErrorCode() == ENOENT || LastErrorCode() == ENOTDIR;
  exists = true;
  std::string data;
  char buffer[8192];
  for (;;) {
    int64_t n = file.Read(buffer, sizeof buffer);
    if (n < 0) return false;
    if (n == 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  lines = SplitLines(data);
  return true;
}

// Index range [begin, end) of the body of the first section named section;
// false when there is none.
bool FindSection(const std::vector<Line>& lines, std::string_view section, size_t& begin,
                 size_t& end) {
  std::string_view wanted = Trim(section);
  size_t i = 0;
  for (; i < lines.size(); ++i) {
    Parsed p = Classify(lines[i]);
    if (p.kind == LineKind::kSection && EqualsNoCase(p.name, wanted)) break;
  }
  if (i == lines.size()) return false;
  begin = i + 1;
  end = begin;
  while (end < lines.size() && Classify(lines[end]).kind != LineKind::kSection) ++end;
  return true;
}

size_t FindKey(const std::vector<Line>& lines, size_t begin, size_t end, std::string_view key) {
  std::string_view wanted = Trim(key);
  for (size_t i = begin; i < end; ++i) {
    Parsed p = Classify(lines[i]);
    if (p.kind == LineKind::kKey && EqualsNoCase(p.name, wanted)) return i;
  }
  return std::string::npos;
}

// New lines follow the file's own convention; a new file gets the Windows one.
std::string LineEndOf(const std::vector<Line>& lines) {
  for (const Line& line : lines) {
    if (!line.end.empty()) return line.end;
  }
  return std::string(kCrLf);
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

// Writes lines over path. The file keeps its permission bits, and a
// symbolic link keeps pointing at the file that is written.
bool StoreLines(std::string_view path, const std::vector<Line>& lines, bool existed) {
  std::string target(path);
  struct stat st {};
  bool have_mode = false;
  if (existed) {
    std::string native = ToNativePath(path);
    if (::access(native.c_str(), W_OK) != 0) return false;
    struct stat lst {};
    if (::lstat(native.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
      if (char* real = ::realpath(native.c_str(), nullptr)) {
        target = FromNativePath(real);
        std::free(real);
      }
    }
    have_mode = ::stat(native.c_str(), &st) == 0;
  }
  std::string data = JoinLines(lines);
  if (!ReplaceFileAtomically(target, data.data(), data.size())) return false;
  if (have_mode) ::chmod(ToNativePath(target).c_str(), st.st_mode & 07777);
  return true;
}

}  // namespace

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view default_value, std::string_view path,
                                    size_t buffer_size) {
  if (buffer_size == 0) return {};
  size_t max = buffer_size - 1;
  // Windows cuts trailing blanks off the default.
  std::string_view fallback = default_value.substr(0, default_value.find_last_not_of(kBlanks) + 1);

  std::vector<Line> lines;
  bool exists = false;
  size_t begin = 0, end = 0;
  if (!LoadLines(path, lines, exists) || !FindSection(lines, section, begin, end)) {
    return Truncate(fallback, max);
  }
  size_t at = FindKey(lines, begin, end, key);
  if (at == std::string::npos) return Truncate(fallback, max);
  std::string_view value = Classify(lines[at]).value;
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return Truncate(value, max);
}

int GetPrivateProfileInt(std::string_view section, std::string_view key, int default_value,
                         std::string_view path) {
  std::string text = GetPrivateProfileString(section, key, "", path);
  std::string_view s = Trim(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || s.front() < '0' || s.front() > '9') return default_value;
  // Like the Windows conversion, overlong numbers wrap at 32 bits.
  uint32_t n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') break;
    n = n * 10u + static_cast<uint32_t>(c - '0');
  }
  if (negative) n = 0u - n;
  return static_cast<int32_t>(n);
}

bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, std::string_view path) {
  std::string_view section_name = Trim(section);
  std::string_view key_name = Trim(key);
  // A line break would smuggle further keys or sections into the file (page
  // scripts reach this through "_INI_" parameters); such texts could never be
  // read back as written either.
  if (HasLineBreak(section_name) || HasLineBreak(key_name) || HasLineBreak(value) ||
      FindGbk(section_name, ']') != std::string_view::npos ||
      key_name.find('=') != std::string_view::npos ||
      (!key_name.empty() && (key_name.front() == ';' || key_name.front() == '['))) {
    SetLastErrorCode(EINVAL);
    return false;
  }

  std::lock_guard<std::mutex> guard(WriteLock());
  std::vector<Line> lines;
  bool exists = false;
  if (!LoadLines(path, lines, exists)) return false;
  const std::string eol = LineEndOf(lines);
  auto ensure_last_line_ended = [&] {
    if (!lines.empty() && lines.back().end.empty()) lines.back().end = eol;
  };

  size_t begin = 0, end = 0;
  if (FindSection(lines, section_name, begin, end)) {
    size_t at = FindKey(lines, begin, end, key_name);
    if (at != std::string::npos) {
      Parsed p = Classify(lines[at]);
      if (p.value == value) return true;  // nothing changes, the file stays as it is
      lines[at].text = std::string(p.name) + "=" + std::string(value);
    } else {
      // After the section's last non-blank line, so a blank line that
      // separates it from the next section stays where it is.
      size_t insert = end;
      while (insert > begin && Trim(lines[insert - 1].text).empty()) --insert;
      if (insert == lines.size()) ensure_last_line_ended();
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insert),
                   Line{std::string(key_name) + "=" + std::string(value), eol});
    }
  } else {
    ensure_last_line_ended();
    lines.push_back(Line{"[" + std::string(section_name) + "]", eol});
    lines.push_back(Line{std::string(key_name) + "=" + std::string(value), eol});
  }
  return StoreLines(path, lines, exists);
}

bool DeletePrivateProfileKey(std::string_view section, std::string_view key,
                             std::string_view path) {
  std::lock_guard<std::mutex> guard(WriteLock());
  std::vector<Line> lines;
  bool exists = false;
  if (!LoadLines(path, lines, exists)) return false;
  size_t begin = 0, end = 0;
  if (!FindSection(lines, section, begin, end)) return true;
  bool removed = false;
  // Duplicates go too, or the next one would surface as the key's value.
  for (size_t at; (at = FindKey(lines, begin, end, key)) != std::string::npos;) {
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
    --end;
    removed = true;
  }
  if (!removed) return true;
  return StoreLines(path, lines, exists);
}

std::vector<std::string> GetPrivateProfileKeys(std::string_view section, std::string_view path) {
  std::vector<std::string> keys;
  std::vector<Line> lines;
  bool exists = false;
  size_t begin = 0, end = 0;
  if (!LoadLines(path, lines, exists) || !FindSection(lines, section, begin, end)) return keys;
  for (size_t i = begin; i < end; ++i) {
    Parsed p = Classify(lines[i]);
    if (p.kind != LineKind::kKey) continue;
    bool seen = false;
    for (const std::string& k : keys) seen = seen || EqualsNoCase(k, p.name);
    if (!seen) keys.emplace_back(p.name);
  }
  return keys;
}

}  // namespace platform
