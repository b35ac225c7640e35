#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "platform/codepage.h"

namespace platform {
namespace {

// One iconv descriptor per direction and thread; iconv_open is costly and a
// descriptor must not be shared between threads.
class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (valid()) iconv_close(cd_);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }
  void Reset() const { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

 private:
  iconv_t cd_;
};

const IconvHandle& GbkDecoder() {
  thread_local IconvHandle handle("UTF-16LE", "CP936");
  return handle;
}

const IconvHandle& GbkEncoder() {
  thread_local IconvHandle handle("CP936", "UTF-16LE");
  return handle;
}

// Runs iconv over the whole input; on an invalid or unconvertible sequence
// calls on_bad(in, left) which must advance the input by at least one unit
// and may append a substitute to out.
template <typename OnBad>
void Convert(const IconvHandle& cd, const char* in, size_t in_left, std::string& out,
             OnBad on_bad) {
  if (!cd.valid()) return;
  cd.Reset();
  char buffer[4096];
  while (in_left > 0) {
    char* dst = buffer;
    size_t dst_left = sizeof buffer;
    char* src = const_cast<char*>(in);
    size_t rc = iconv(cd.get(), &src, &in_left, &dst, &dst_left);
    int err = errno;
    out.append(buffer, dst - buffer);
    in = src;
    if (rc != static_cast<size_t>(-1)) continue;
    if (err == E2BIG) continue;
    // EILSEQ or EINVAL (incomplete sequence at the end).
    on_bad(in, in_left);
    cd.Reset();
  }
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// Page texts are often plain ASCII (Base64, JSON, numbers), which is the
// same in every code page here: it is widened or narrowed without iconv.
bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool IsAscii(std::u16string_view text) {
  for (char16_t u : text) {
    if (u >= 0x80) return false;
  }
  return true;
}

std::string Narrowed(std::u16string_view ascii) {
  std::string out(ascii.size(), '\0');
  for (size_t i = 0; i < ascii.size(); ++i) out[i] = static_cast<char>(ascii[i]);
  return out;
}

}  // namespace

std::u16string GbkToUtf16(std::string_view gbk) {
  if (IsAscii(gbk)) return std::u16string(gbk.begin(), gbk.end());
  std::string bytes;
  Convert(GbkDecoder(), gbk.data(), gbk.size(), bytes, [&bytes](const char*& in, size_t& left) {
    // Skip one character: a lead byte with its trail byte when both are there.
    size_t skip = (left >= 2 && IsGbkLeadByte(static_cast<unsigned char>(*in))) ? 2 : 1;
    in += skip;
    left -= skip;
    bytes.append("?\0", 2);
  });
  std::u16string out(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return out;
}

std::string Utf16ToGbk(std::u16string_view utf16) {
  if (IsAscii(utf16)) return Narrowed(utf16);
  std::string le;
  le.reserve(utf16.size() * 2);
  for (char16_t u : utf16) {
    le.push_back(static_cast<char>(u & 0xFF));
    le.push_back(static_cast<char>(u >> 8));
  }
  std::string out;
  Convert(GbkEncoder(), le.data(), le.size(), out, [&out](const char*& in, size_t& left) {
    // Skip one character: a surrogate pair counts as one.
    size_t skip = 2;
    if (left >= 4) {
      unsigned hi = static_cast<unsigned char>(in[1]);
      unsigned lo2 = static_cast<unsigned char>(in[3]);
      if (hi >= 0xD8 && hi <= 0xDB && lo2 >= 0xDC && lo2 <= 0xDF) skip = 4;
    }
    if (skip > left) skip = left;
    in += skip;
    left -= skip;
    out.push_back('?');
  });
  return out;
}

bool Utf8ToUtf16(std::string_view utf8, std::u16string& out, Utf8Mode mode) {
  out.clear();
  out.reserve(utf8.size());
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  size_t n = utf8.size();
  size_t i = 0;
  while (i < n) {
    unsigned char c = s[i];
    char32_t cp = 0;
    size_t len = 0;
    char32_t min = 0;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
      cp = c & 0x1F;
      len = 2;
      min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      cp = c & 0x0F;
      len = 3;
      min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      cp = c & 0x07;
      len = 4;
      min = 0x10000;
    }
    bool ok = len > 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80)
        ok = false;
      else
        cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if (ok && len > 1 && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (!ok) {
      if (mode == Utf8Mode::kStrict) {
        out.clear();
        return false;
      }
      out.push_back(u'\xFFFD');
      // Resynchronise on the next byte that can start a sequence.
      ++i;
      while (i < n && (s[i] & 0xC0) == 0x80) ++i;
      continue;
    }
    AppendUtf16(out, cp);
    i += len;
  }
  return true;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  if (IsAscii(utf16)) return Narrowed(utf16);
  std::string out;
  out.reserve(utf16.size() * 3);
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

bool IsAsciiText(std::string_view text) {
  return IsAscii(text);
}

std::string GbkToUtf8(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  return Utf16ToUtf8(GbkToUtf16(gbk));
}

std::string Utf8ToGbk(std::string_view utf8) {
  std::u16string wide;
  (void)Utf8ToUtf16(utf8, wide, Utf8Mode::kLenient);
  return Utf16ToGbk(wide);
}

bool IsRepresentableInGbk(std::string_view utf8) {
  std::u16string wide;
  if (!Utf8ToUtf16(utf8, wide, Utf8Mode::kStrict)) return false;
  return GbkToUtf16(Utf16ToGbk(wide)) == wide;
}

std::string GbkToUpper(std::string_view gbk) {
  std::string out(gbk);
  for (size_t i = 0; i < out.size(); ++i) {
    auto c = static_cast<unsigned char>(out[i]);
    if (IsGbkLeadByte(c) && i + 1 < out.size()) {
      ++i;
    } else if (c >= 'a' && c <= 'z') {
      out[i] = static_cast<char>(c - 'a' + 'A');
    }
  }
  return out;
}

}  // namespace platform
