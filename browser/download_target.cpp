#include "browser/download_target.h"

#include <string_view>

#include "browser/dialog_ie.h"
#include "config/program_paths.h"
#include "platform/codepage.h"
#include "util/file_io.h"
#include "util/path_names.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsEscapeAt(std::string_view text, size_t at) {
  return at + 2 < text.size() && text[at] == '%' && HexValue(text[at + 1]) >= 0 &&
         HexValue(text[at + 2]) >= 0;
}

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

// A separator or a control character that only an escape brought in is
// never a character of a name, so the whole name is refused.
bool EscapedBytesAllowed(std::string_view bytes) {
  for (unsigned char c : bytes) {
    if (c == '/' || c == '\\' || IsControl(c)) return false;
  }
  return true;
}

// Every escape decoded into its byte; false when one is forbidden.
bool DecodeAllEscapes(std::string_view text, std::string& bytes) {
  bytes.clear();
  for (size_t i = 0; i < text.size();) {
    if (IsEscapeAt(text, i)) {
      bytes += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 3;
    } else {
      bytes += text[i++];
    }
  }
  return EscapedBytesAllowed(bytes);
}

// Each run of escapes that is UTF-8 becomes GBK; any other run keeps its
// bytes, since older servers escape GBK names. The literal text is GBK
// already.
bool DecodeUrlEscapes(std::string_view text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size();) {
    if (!IsEscapeAt(text, i)) {
      out += text[i++];
      continue;
    }
    std::string run;
    while (IsEscapeAt(text, i)) {
      run += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 3;
    }
    if (!EscapedBytesAllowed(run)) return false;
    std::u16string wide;
    out += platform::Utf8ToUtf16(run, wide, platform::Utf8Mode::kStrict)
               ? platform::Utf16ToGbk(wide)
               : run;
  }
  return true;
}

DownloadFileName WithExtension(std::string name) {
  DownloadFileName result;
  result.name = std::move(name);
  size_t dot = result.name.find('.');
  if (dot != std::string::npos) result.extension = result.name.substr(dot);
  return result;
}

std::string_view Trim(std::string_view text) {
  size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return {};
  size_t end = text.find_last_not_of(" \t");
  return text.substr(start, end - start + 1);
}

std::string Lower(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

// The parameters of a header value after its first ";": name (lower case)
// and value, a quoted value unquoted.
template <typename Visit>
void ForEachParameter(std::string_view header, Visit visit) {
  size_t at = header.find(';');
  while (at != std::string_view::npos && at < header.size()) {
    ++at;
    size_t equals = header.find_first_of("=;", at);
    if (equals == std::string_view::npos || header[equals] == ';') {
      at = equals;
      continue;
    }
    std::string name = Lower(Trim(header.substr(at, equals - at)));
    size_t value_at = header.find_first_not_of(" \t", equals + 1);
    std::string value;
    if (value_at != std::string_view::npos && header[value_at] == '"') {
      // A backslash escapes only a quote or itself, so that a Windows path
      // in the value keeps its separators and loses its directory below.
      size_t i = value_at + 1;
      for (; i < header.size() && header[i] != '"'; ++i) {
        if (header[i] == '\\' && i + 1 < header.size() &&
            (header[i + 1] == '"' || header[i + 1] == '\\')) {
          ++i;
        }
        value += header[i];
      }
      at = header.find(';', i);
    } else if (value_at != std::string_view::npos) {
      size_t end = header.find(';', value_at);
      value = std::string(Trim(header.substr(
          value_at, end == std::string_view::npos ? std::string_view::npos : end - value_at)));
      at = end;
    } else {
      at = std::string_view::npos;
    }
    visit(name, value);
  }
}

// charset'language'escaped text (RFC 5987), as GBK; empty when the charset is
// neither UTF-8 nor ISO-8859-1 or an escape is forbidden.
std::string DecodeExtendedValue(std::string_view value) {
  size_t first = value.find('\'');
  if (first == std::string_view::npos) return {};
  size_t second = value.find('\'', first + 1);
  if (second == std::string_view::npos) return {};
  std::string charset = Lower(value.substr(0, first));
  std::string bytes;
  if (!DecodeAllEscapes(value.substr(second + 1), bytes)) return {};
  if (charset == "utf-8") return platform::Utf8ToGbk(bytes);
  if (charset == "iso-8859-1") {
    std::u16string wide;
    for (unsigned char c : bytes) wide += static_cast<char16_t>(c);
    return platform::Utf16ToGbk(wide);
  }
  return {};
}

}  // namespace

std::string PlainFileName(const std::string& name) {
  size_t start = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (platform::IsGbkLeadByte(c) && i + 1 < name.size()) {
      ++i;  // a trail byte 0x5C is no separator
    } else if (c == '/' || c == '\\') {
      start = i + 1;
    }
  }
  std::string plain = name.substr(start);
  if (plain.empty() || plain == "." || plain == "..") return {};
  for (unsigned char c : plain) {
    if (IsControl(c)) return {};
  }
  return plain;
}

DownloadFileName DownloadNameFromUrl(const std::string& url) {
  std::string_view rest(url);
  rest = rest.substr(0, rest.find_first_of("?#"));
  size_t path_at = 0;
  size_t scheme_end = rest.find("://");
  if (scheme_end != std::string_view::npos) {
    path_at = rest.find('/', scheme_end + 3);
    if (path_at == std::string_view::npos) return {};
  } else if (rest.empty() || rest.front() != '/') {
    return {};  // data:, about: and the like name no file
  }
  std::string_view path = rest.substr(path_at);
  if (!path.empty() && path.back() == '/') path.remove_suffix(1);
  std::string_view segment = path.substr(path.rfind('/') + 1);
  std::string decoded;
  if (!DecodeUrlEscapes(segment, decoded)) return {};
  std::string name = PlainFileName(decoded);
  if (name.empty()) return {};
  return WithExtension(std::move(name));
}

DownloadFileName DownloadNameFromContentDisposition(const std::string& header) {
  std::string plain;
  std::string extended;
  bool have_plain = false;
  bool have_extended = false;
  ForEachParameter(header, [&](const std::string& name, const std::string& value) {
    if (name == "filename*" && !have_extended) {
      have_extended = true;
      extended = PlainFileName(DecodeExtendedValue(value));
    } else if (name == "filename" && !have_plain) {
      have_plain = true;
      plain = PlainFileName(value);
    }
  });
  if (!extended.empty()) return WithExtension(std::move(extended));
  if (!plain.empty()) return WithExtension(std::move(plain));
  return {};
}

std::string DownloadFileNameFor(const std::string& url, const std::string& content_disposition) {
  DownloadFileName found = DownloadNameFromUrl(url);
  if (found.name.empty() || found.extension.empty()) {
    DownloadFileName from_header = DownloadNameFromContentDisposition(content_disposition);
    if (!from_header.name.empty()) found = std::move(from_header);
  }
  return found.name.empty() ? std::string(kUnknownDownloadName) : found.name;
}

bool ResolveDownloadTarget(CDownLoadManager_interface* manager, const std::string& url,
                           const std::string& content_disposition, DownloadTarget& target) {
  std::string directory;
  std::string given_name;
  if (manager != nullptr) manager->GetDownloadTarget(directory, given_name);
  target.name = DownloadFileNameFor(url, content_disposition);
  given_name = PlainFileName(given_name);
  if (!given_name.empty()) {
    size_t dot = target.name.rfind('.');
    target.name = dot == std::string::npos ? given_name : given_name + target.name.substr(dot);
  }
  target.directory = directory.empty() ? GetDownloadDirectoryPath() : directory;
  target.path = JoinPath(target.directory, target.name);
  return CreateDirectoryTree(target.directory);
}
