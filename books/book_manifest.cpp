// The manifest file: its text format, written atomically and read back
// within bounds.
#include "books/book_manifest.h"

#include <set>

#include "platform/file_system.h"
#include "util/file_io.h"
#include "util/path_names.h"

namespace {

constexpr const char kFormatLine[] = "tomerack-book-manifest 1 ";
constexpr const char kFileTag[] = "f ";
constexpr const char kDirectoryTag[] = "d ";
constexpr const char kEndTag[] = "end ";
constexpr size_t kCrcDigits = 8;
constexpr size_t kMaxSizeDigits = 20;

const char kHexDigits[] = "0123456789abcdef";

std::string Escape(const std::string& raw) {
  std::string out;
  out.reserve(raw.size());
  for (unsigned char c : raw) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          out += "\\x";
          out += kHexDigits[c >> 4];
          out += kHexDigits[c & 0xf];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The inverse of Escape; false for an escape Escape never writes, or a raw
// control byte.
bool Unescape(std::string_view text, std::string& raw) {
  raw.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7f) return false;
    if (c != '\\') {
      raw += static_cast<char>(c);
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\':
        raw += '\\';
        break;
      case 'n':
        raw += '\n';
        break;
      case 'r':
        raw += '\r';
        break;
      case 't':
        raw += '\t';
        break;
      case 'x': {
        if (text.size() - i < 3) return false;
        int high = HexValue(text[i + 1]);
        int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) return false;
        int value = high * 16 + low;
        // Only what Escape writes this way: the other controls have names.
        if ((value >= 0x20 && value != 0x7f) || value == '\n' || value == '\r' || value == '\t')
          return false;
        raw += static_cast<char>(value);
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

bool ParseDecimal(std::string_view text, uint64_t& value) {
  if (text.empty() || text.size() > kMaxSizeDigits) return false;
  if (text.size() > 1 && text[0] == '0') return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

bool ParseCrc(std::string_view text, uint32_t& crc) {
  if (text.size() != kCrcDigits) return false;
  crc = 0;
  for (char c : text) {
    int digit = HexValue(c);
    if (digit < 0) return false;
    crc = (crc << 4) | static_cast<uint32_t>(digit);
  }
  return true;
}

std::string CrcText(uint32_t crc) {
  std::string text(kCrcDigits, '0');
  for (size_t i = kCrcDigits; i-- > 0; crc >>= 4) text[i] = kHexDigits[crc & 0xf];
  return text;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// One entry line (without its "\n"); false when it is not one.
bool ParseEntryLine(std::string_view line, ManifestEntry& entry) {
  entry = ManifestEntry{};
  std::string_view escaped;
  if (StartsWith(line, kDirectoryTag)) {
    entry.directory = true;
    escaped = line.substr(sizeof kDirectoryTag - 1);
  } else if (StartsWith(line, kFileTag)) {
    std::string_view rest = line.substr(sizeof kFileTag - 1);
    size_t size_end = rest.find(' ');
    if (size_end == std::string_view::npos || !ParseDecimal(rest.substr(0, size_end), entry.size))
      return false;
    rest = rest.substr(size_end + 1);
    if (rest.size() <= kCrcDigits || rest[kCrcDigits] != ' ' ||
        !ParseCrc(rest.substr(0, kCrcDigits), entry.crc32))
      return false;
    escaped = rest.substr(kCrcDigits + 1);
  } else {
    return false;
  }
  return Unescape(escaped, entry.path) && IsSafeManifestPath(entry.path);
}

bool WithinLimits(const std::vector<ManifestEntry>& entries) {
  if (entries.size() > kMaxManifestEntries) return false;
  std::set<std::string> seen;
  for (const ManifestEntry& entry : entries) {
    if (!IsSafeManifestPath(entry.path) || !seen.insert(entry.path).second) return false;
  }
  return true;
}

}  // namespace

std::string PrintableName(const std::string& name) {
  return Escape(name);
}

std::string ManifestPathFor(const std::string& install_dir) {
  std::string base = install_dir;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + kManifestSuffix;
}

bool IsSafeManifestPath(const std::string& path) {
  if (path.empty() || path.size() > kMaxManifestPathBytes || path[0] == '/') return false;
  if (path.find('\0') != std::string::npos) return false;
  size_t from = 0;
  while (from <= path.size()) {
    size_t end = path.find('/', from);
    if (end == std::string::npos) end = path.size();
    std::string_view part(path.data() + from, end - from);
    if (part.empty() || part == "." || part == "..") return false;
    from = end + 1;
  }
  return true;
}

std::string ManifestText(const std::string& package_id, const std::vector<ManifestEntry>& entries) {
  std::string text = kFormatLine + Escape(package_id) + "\n";
  for (const ManifestEntry& entry : entries) {
    if (entry.directory) {
      text += kDirectoryTag + Escape(entry.path) + "\n";
    } else {
      text += kFileTag + std::to_string(entry.size) + " " + CrcText(entry.crc32) + " " +
              Escape(entry.path) + "\n";
    }
  }
  text += kEndTag + std::to_string(entries.size()) + "\n";
  return text;
}

bool ParseManifestText(const std::string& text, std::string& package_id,
                       std::vector<ManifestEntry>& entries) {
  package_id.clear();
  entries.clear();
  auto fail = [&] {
    package_id.clear();
    entries.clear();
    return false;
  };
  if (text.size() > kMaxManifestBytes || text.empty() || text.back() != '\n') return fail();
  std::set<std::string> seen;
  size_t at = 0;
  bool first = true;
  bool ended = false;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    std::string_view line(text.data() + at, end - at);
    at = end + 1;
    if (ended) return fail();  // nothing may follow the end line
    if (first) {
      first = false;
      if (!StartsWith(line, kFormatLine) ||
          !Unescape(line.substr(sizeof kFormatLine - 1), package_id))
        return fail();
      continue;
    }
    if (StartsWith(line, kEndTag)) {
      uint64_t count = 0;
      if (!ParseDecimal(line.substr(sizeof kEndTag - 1), count) || count != entries.size())
        return fail();
      ended = true;
      continue;
    }
    if (entries.size() == kMaxManifestEntries) return fail();
    ManifestEntry entry;
    if (!ParseEntryLine(line, entry) || !seen.insert(entry.path).second) return fail();
    entries.push_back(std::move(entry));
  }
  if (!ended) return fail();
  return true;
}

bool WriteBookManifest(const std::string& manifest_path, const std::string& package_id,
                       const std::vector<ManifestEntry>& entries) {
  if (!WithinLimits(entries)) return false;
  std::string text = ManifestText(package_id, entries);
  if (text.size() > kMaxManifestBytes) return false;
  return WriteWholeFileAtomically(text.data(), text.size(), manifest_path);
}

void RemoveAbandonedManifestWrites(const std::string& install_dir) {
  platform::RemoveAbandonedReplacements(GetParentDirectory(ManifestPathFor(install_dir)));
}

bool ReadBookManifest(const std::string& manifest_path, std::string& package_id,
                      std::vector<ManifestEntry>& entries) {
  package_id.clear();
  entries.clear();
  platform::File file(manifest_path, platform::OpenMode::kRead);
  if (!file.IsOpen() || file.Size() > static_cast<int64_t>(kMaxManifestBytes)) return false;
  // The size is checked again while reading: the file may grow meanwhile.
  std::string text;
  char block[64 * 1024];
  for (;;) {
    int64_t n = file.Read(block, sizeof block);
    if (n < 0) return false;
    if (n == 0) break;
    text.append(block, static_cast<size_t>(n));
    if (text.size() > kMaxManifestBytes) return false;
  }
  return ParseManifestText(text, package_id, entries);
}
