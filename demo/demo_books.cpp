#include "demo/demo_books.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <random>

#include "util/md5.h"
#include "zip/zip_writer.h"

namespace {

const char* U8(const char8_t* text) {
  return reinterpret_cast<const char*>(text);
}

void PutBig32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xff);
}

void PngChunk(std::string& out, const char* type, const std::string& data) {
  PutBig32(out, static_cast<uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  out += body;
  PutBig32(out, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                            static_cast<uInt>(body.size()))));
}

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  std::string data(size, '\0');
  for (char& c : data) c = static_cast<char>(generator() & 0xff);
  return data;
}

std::string PageHtml(const std::string& title_utf8, int page) {
  std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title_utf8 +
                     "</title></head><body>\n";
  for (int line = 0; line < 400; ++line) {
    html += "<p>" + title_utf8 + " page " + std::to_string(page) + " line " + std::to_string(line) +
            "</p>\n";
  }
  return html + "</body></html>\n";
}

// Single quotes for sh, with any single quote in the text closed, escaped
// and reopened.
std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Writes how it was started to opened.log beside itself (one line of
// arguments, then the user the client handed over). With a display and
// zenity it shows a small window for the book and ends when that is closed;
// else it stays open for ten minutes as a reader would, until the client or
// the user ends it.
std::string ReaderScript(const std::string& title_utf8) {
  return std::string(
             "#!/bin/sh\n"
             "# Demo reader: records which book it was asked to open and for whom.\n"
             "here=$(dirname \"$0\")\n"
             "user=$(sed -n 's/^un=//p' \"$here/system/$(basename \"$0\").ini\" 2>/dev/null | "
             "tr -d '\\r')\n"
             "echo \"pid=$$ user=$user args=$*\" >> \"$here/opened.log\"\n"
             "echo \"tomereader: opening $*\"\n"
             "title=") +
         ShellQuoted(title_utf8) +
         "\n"
         "if [ -n \"$DISPLAY\" ] && command -v zenity >/dev/null 2>&1; then\n"
         "  err=\"${TMPDIR:-/tmp}/tomereader.$$.err\"\n"
         "  zenity --info --title=\"$title" +
         U8(u8" — 演示阅读器") + "\" --text=\"" + U8(u8"正在阅读：") + "$title\\n" +
         U8(u8"用户：") + "$user\\n" + U8(u8"参数：") +
         "$*\" --width=360 2>\"$err\" &\n"
         "  shown=$!\n"
         "  # The client ends readers with SIGKILL, which would leave the window\n"
         "  # open: a watcher closes it once this shell is gone.\n"
         "  sh -c 'while kill -0 \"$1\" 2>/dev/null; do sleep 1; done; kill \"$2\" 2>/dev/null' "
         "watch $$ $shown &\n"
         "  watcher=$!\n"
         "  wait $shown\n"
         "  status=$?\n"
         "  kill $watcher 2>/dev/null\n"
         "  grep -q 'cannot open display' \"$err\" 2>/dev/null\n"
         "  no_display=$?\n"
         "  rm -f \"$err\"\n"
         "  # 0 is OK, 1 the window's close button; a zenity that could not show\n"
         "  # anything (1 without a display too) leaves the reader waiting.\n"
         "  if [ $status -eq 0 ] || { [ $status -eq 1 ] && [ $no_display -ne 0 ]; }; then\n"
         "    exit 0\n"
         "  fi\n"
         "fi\n"
         "i=0\n"
         "while [ $i -lt 600 ]; do sleep 1; i=$((i + 1)); done\n";
}

ZipEntrySpec Entry(const std::string& name, std::string data, ZipEntrySpec::Method method,
                   unsigned mode = 0644) {
  ZipEntrySpec entry;
  entry.name = name;
  entry.data = std::move(data);
  entry.method = method;
  entry.unix_mode = mode;
  return entry;
}

std::string MakePackage(const DemoBook& book, size_t media_size, uint32_t seed, int edition) {
  using Method = ZipEntrySpec::Method;
  ZipEntrySpec folder = Entry("content/", "", Method::kStored, 0755);
  folder.directory = true;
  return MakeZip({
      Entry("edition.txt", "edition " + std::to_string(edition) + "\r\n", Method::kStored),
      folder,
      Entry("content/pages/page1.html", PageHtml(book.title_utf8, 1), Method::kDeflated),
      Entry("content/pages/page2.html", PageHtml(book.title_utf8, 2), Method::kDeflated),
      Entry("content/media/clip.bin", RandomBytes(media_size, seed), Method::kStored),
      Entry("images/cover.png", book.cover_png, Method::kStored),
      // A name in the program's code page, as packages made on the
      // service's side carry them.
      Entry("说明.txt", "demo package of " + book.gid + "\r\n", Method::kDeflated),
      Entry("book.ini", "[book]\r\ngid=" + book.gid + "\r\nreader=" + book.reader + "\r\n",
            Method::kStored),
      // At the path the catalogue's bookReader names, below the install
      // directory.
      Entry(book.reader, ReaderScript(book.title_utf8), Method::kDeflated, 0755),
  });
}

// An 8-bit RGB PNG image of the pixels given row by row, three bytes each.
std::string EncodeRgbPng(int width, int height, const std::string& pixels) {
  std::string out = "\x89PNG\r\n\x1a\n";
  std::string header;
  PutBig32(header, static_cast<uint32_t>(width));
  PutBig32(header, static_cast<uint32_t>(height));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
  PngChunk(out, "IHDR", header);
  const size_t row = static_cast<size_t>(width) * 3;
  std::string raw;
  raw.reserve((row + 1) * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    raw += '\0';  // no filter
    raw.append(pixels, static_cast<size_t>(y) * row, row);
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size,
           reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()));
  packed.resize(size);
  PngChunk(out, "IDAT", packed);
  PngChunk(out, "IEND", {});
  return out;
}

void PutPixel(std::string& pixels, unsigned rgb) {
  pixels += static_cast<char>((rgb >> 16) & 0xff);
  pixels += static_cast<char>((rgb >> 8) & 0xff);
  pixels += static_cast<char>(rgb & 0xff);
}

// Each channel moved towards target (0 black, 255 white) by percent.
unsigned Blend(unsigned rgb, unsigned target, unsigned percent) {
  unsigned out = 0;
  for (int shift = 16; shift >= 0; shift -= 8) {
    const unsigned channel = (rgb >> shift) & 0xff;
    const unsigned moved = (channel * (100 - percent) + target * percent) / 100;
    out |= moved << shift;
  }
  return out;
}

}  // namespace

std::string MakeSolidPng(int width, int height, unsigned rgb) {
  std::string pixels;
  pixels.reserve(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  for (int i = 0; i < width * height; ++i) PutPixel(pixels, rgb);
  return EncodeRgbPng(width, height, pixels);
}

std::string MakeCoverPng(int width, int height, unsigned rgb) {
  const unsigned spine = Blend(rgb, 0, 40);
  const unsigned band = Blend(rgb, 255, 55);
  const int spine_width = std::max(1, width / 10);
  // The band, where a title would be printed, lies in the upper third.
  const int band_top = height / 9;
  const int band_bottom = height / 3;
  std::string pixels;
  pixels.reserve(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (x < spine_width) {
        PutPixel(pixels, spine);
      } else if (y >= band_top && y < band_bottom) {
        PutPixel(pixels, band);
      } else {
        PutPixel(pixels, rgb);
      }
    }
  }
  return EncodeRgbPng(width, height, pixels);
}

std::string MakeUpgradeProgram(const std::string& version) {
  return "#!/bin/sh\n"
         "# Demo upgrade program: records the new version as installed.\n"
         "[ \"$1\" = \"/upgrade\" ] || exit 2\n"
         "mkdir -p system\n"
         "printf '%s\\r\\n' '" +
         version + "' > system/version.dat\n";
}

void PublishEdition(DemoBook& book, int edition) {
  book.edition = edition;
  // Another edition has other media bytes, so its digest differs.
  book.package = MakePackage(book, book.media_size, book.seed + 7919u * (edition - 1), edition);
  MD5Computer md5;
  if (!md5.TextMD5(book.digest, book.package)) book.digest.assign(32, '0');
  if (book.upper_digest) {
    for (char& c : book.digest) {
      if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    }
  }
}

std::vector<DemoBook> MakeDemoBooks() {
  struct Seed {
    const char* bsid;
    const char* gid;
    const char8_t* title;
    unsigned colour;
    size_t media_size;
    bool upper_digest;
  };
  // Seeds follow the order of this table: new books go at its end so that
  // the packages (and digests) of the earlier ones stay as they are.
  const Seed seeds[] = {
      {"b1001", "g1001", u8"数学 七年级 上册", 0x3366cc, 300 * 1024, false},
      {"b1002", "g1002", u8"语文 七年级 上册", 0xcc3333, 520 * 1024, true},
      {"b1003", "g1003", u8"英语 七年级 上册", 0x33aa55, 150 * 1024, true},
      {"b1004", "g1004", u8"物理 八年级 上册", 0x6c3fb5, 60 * 1024, false},
      {"b1005", "g1005", u8"历史 七年级 上册", 0xa0522d, 45 * 1024, true},
      {"b1006", "g1006", u8"地理 七年级 上册", 0x1a9c9c, 50 * 1024, false},
      {"b1007", "g1007", u8"生物 七年级 上册", 0x88aa22, 40 * 1024, true},
      {"b2001", "g2001", u8"数学 七年级 上册 教师用书", 0x1f3f7a, 70 * 1024, false},
      {"b2002", "g2002", u8"语文 七年级 教学参考", 0x8b1a4a, 55 * 1024, true},
      {"b2003", "g2003", u8"音乐 七年级 上册", 0xd98a1a, 35 * 1024, false},
  };
  std::vector<DemoBook> books;
  uint32_t seed_number = 1;
  for (const Seed& seed : seeds) {
    DemoBook book;
    book.bsid = seed.bsid;
    book.gid = seed.gid;
    book.title_utf8 = U8(seed.title);
    book.base_image = "images/" + book.gid + ".png";
    book.book_path = "books/" + book.gid + "/" + book.gid + ".zip";
    book.reader = "tomereader";
    book.cover_png = MakeCoverPng(kCoverWidth, kCoverHeight, seed.colour);
    book.media_size = seed.media_size;
    book.seed = seed_number++;
    book.upper_digest = seed.upper_digest;
    PublishEdition(book, 1);
    books.push_back(std::move(book));
  }
  return books;
}
