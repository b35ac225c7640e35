#include "services/image_process.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string_view>

#include "platform/codepage.h"
#include "platform/file_system.h"
#include "services/bitmap_ex.h"
#include "util/file_io.h"
#include "util/gbk_json.h"
#include "util/number_text.h"

namespace {

constexpr char kBadArgument[] = "ERR:参数不正确";
constexpr char kCannotLoad[] = ":无法装载图像文件";
constexpr char kZeroSide[] = ":maxHeight 或 maxWidth 不能为0";
constexpr char kUnknownMethodHead[] = ": 无法识别的method:";
constexpr char kUnknownMethodTail[] = "，或者method对应的参数有误";
constexpr char kOk[] = "OK";
constexpr char kTemporarySuffix[] = ".tmp.bmp";

// ---------------------------------------------------------------------------
// Image files through gdk-pixbuf.

struct GObjectUnref {
  void operator()(void* object) const { g_object_unref(object); }
};
using PixbufPtr = std::unique_ptr<GdkPixbuf, GObjectUnref>;

// An image read from a file, with the name of the format it was read in
// ("png", "jpeg", "bmp", "gif", ...).
struct ImageFile {
  PixbufPtr pixbuf;
  std::string format;
};

// Reads an image file of any format gdk-pixbuf reads. Null when the file
// cannot be opened or decoded, or when a side is longer than
// CBitmapEx::kMaxSide; the size is taken from the file's header before any
// pixels are decoded, so an image too large is never allocated.
ImageFile ReadImageFile(const std::string& path) {
  ImageFile result;
  if (path.empty()) return result;
  // Only regular files: a FIFO or a device named by a page would block the
  // window or never end. The file layer opens without waiting and checks.
  if (!platform::File(path, platform::OpenMode::kRead).IsOpen()) return result;

  const std::string native = platform::ToNativePath(path);
  int width = 0;
  int height = 0;
  GdkPixbufFormat* format = gdk_pixbuf_get_file_info(native.c_str(), &width, &height);
  if (format == nullptr || width <= 0 || height <= 0 || width > CBitmapEx::kMaxSide ||
      height > CBitmapEx::kMaxSide)
    return result;

  GError* error = nullptr;
  PixbufPtr pixbuf(gdk_pixbuf_new_from_file(native.c_str(), &error));
  g_clear_error(&error);
  if (!pixbuf) return result;
  // The file may have been replaced since its header was read.
  if (gdk_pixbuf_get_width(pixbuf.get()) > CBitmapEx::kMaxSide ||
      gdk_pixbuf_get_height(pixbuf.get()) > CBitmapEx::kMaxSide)
    return result;
  result.pixbuf = std::move(pixbuf);
  gchar* name = gdk_pixbuf_format_get_name(format);
  if (name != nullptr) result.format = name;
  g_free(name);
  return result;
}

// The gdk-pixbuf type that a destination's file-name extension names, or
// empty when we write no such format.
std::string FormatForPath(const std::string& path) {
  // Neither "." nor "/" occurs inside a double-byte GBK character.
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return {};
  const std::string extension = platform::GbkToUpper(std::string_view(path).substr(dot + 1));
  if (extension == "PNG") return "png";
  if (extension == "JPG" || extension == "JPEG" || extension == "JPE" || extension == "JFIF")
    return "jpeg";
  if (extension == "BMP" || extension == "DIB") return "bmp";
  return {};
}

bool WriteBytes(const std::string& path, const void* data, size_t size) {
  platform::File file(path, platform::OpenMode::kCreateTruncate);
  if (!file.IsOpen()) return false;
  const bool written = file.Write(data, size);
  return file.Close() && written;
}

// Encodes the image in the given gdk-pixbuf type and writes it to path.
bool WriteImageAs(GdkPixbuf* pixbuf, const std::string& format, const std::string& path) {
  gchar* buffer = nullptr;
  gsize size = 0;
  if (!gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, format.c_str(), nullptr, nullptr))
    return false;
  const bool written = WriteBytes(path, buffer, size);
  g_free(buffer);
  return written;
}

// Writes the image in the format the destination's extension names; an
// extension we do not write leaves the destination alone.
void WriteImageFile(GdkPixbuf* pixbuf, const std::string& path) {
  const std::string format = FormatForPath(path);
  if (!format.empty()) WriteImageAs(pixbuf, format, path);
}

// ---------------------------------------------------------------------------
// The methods.

// The temporary BMP beside the source; it is removed when the method ends,
// whatever the outcome, once anything may have been written to it.
class TemporaryBitmapFile {
 public:
  explicit TemporaryBitmapFile(const std::string& source) : path_(source + kTemporarySuffix) {}
  ~TemporaryBitmapFile() {
    if (used_) platform::RemoveFile(path_);
  }
  TemporaryBitmapFile(const TemporaryBitmapFile&) = delete;
  TemporaryBitmapFile& operator=(const TemporaryBitmapFile&) = delete;

  const std::string& path() {
    used_ = true;
    return path_;
  }

 private:
  std::string path_;
  bool used_ = false;
};

// The source written as an uncompressed BMP under the temporary name and
// read back into the bitmap; an image that cannot be read leaves it empty.
void PrepareWorkingBitmap(GdkPixbuf* source, TemporaryBitmapFile& temporary, CBitmapEx& bitmap) {
  if (source == nullptr) return;
  if (WriteImageAs(source, "bmp", temporary.path())) bitmap.Load(temporary.path());
}

// The worked bitmap goes through the temporary file again and from there,
// by the imaging library, to the destination in its format.
void WriteWorkedBitmap(const CBitmapEx& bitmap, TemporaryBitmapFile& temporary,
                       const std::string& destination) {
  if (!bitmap.Save(temporary.path())) return;
  ImageFile worked = ReadImageFile(temporary.path());
  if (worked.pixbuf) WriteImageFile(worked.pixbuf.get(), destination);
}

std::string MemberText(const cJSON* request, const char* name) {
  const char* value = JsonStringMember(request, name);
  return value != nullptr ? value : std::string();
}

std::string Size(const std::string& path) {
  ImageFile image = ReadImageFile(path);
  if (!image.pixbuf) return "0,0";
  return std::to_string(gdk_pixbuf_get_width(image.pixbuf.get())) + "," +
         std::to_string(gdk_pixbuf_get_height(image.pixbuf.get()));
}

std::string Gray(const std::string& path, const std::string& destination) {
  ImageFile source = ReadImageFile(path);
  TemporaryBitmapFile temporary(path);
  CBitmapEx bitmap;
  PrepareWorkingBitmap(source.pixbuf.get(), temporary, bitmap);
  // A source that cannot be read writes nothing and still answers "OK".
  if (!bitmap.IsEmpty()) {
    bitmap.ConvertToGray();
    WriteWorkedBitmap(bitmap, temporary, destination);
  }
  return kOk;
}

// The image already fits its box: it goes to the destination unscaled. In
// the format it was read in, the file's own bytes are copied (a source that
// is its own destination stays untouched), so a JPEG is not encoded again
// and loses nothing; otherwise it is converted.
void WriteUnscaled(const ImageFile& source, const std::string& path,
                   const std::string& destination) {
  const std::string format = FormatForPath(destination);
  if (format.empty()) return;
  if (format != source.format) {
    WriteImageAs(source.pixbuf.get(), format, destination);
    return;
  }
  if (destination == path) return;
  std::string bytes;
  if (ReadWholeFile(path, bytes)) WriteBytes(destination, bytes.data(), bytes.size());
}

// A computed side as a bitmap side: fractions cut toward zero, and values no
// bitmap can have brought into range before they become integers
// (ScaleNearest makes sides below 1 into 1).
int ToSide(double side) {
  return static_cast<int>(std::clamp(std::trunc(side), 0.0, double{CBitmapEx::kMaxSide}));
}

std::string Scale2(const std::string& path, const std::string& destination,
                   const std::string& max_width, const std::string& max_height) {
  const std::string bad_argument = kBadArgument;
  ImageFile source = ReadImageFile(path);
  TemporaryBitmapFile temporary(path);
  CBitmapEx bitmap;
  PrepareWorkingBitmap(source.pixbuf.get(), temporary, bitmap);
  const int width = bitmap.GetWidth();
  const int height = bitmap.GetHeight();
  const int box_width = ParseLeadingInt(max_width);
  const int box_height = ParseLeadingInt(max_height);
  if (width == 0 || height == 0) return bad_argument + kCannotLoad;
  if (box_width == 0 || box_height == 0) return bad_argument + kZeroSide;

  if (box_width >= width && box_height >= height) {
    WriteUnscaled(source, path, destination);
    return kOk;
  }

  const double w = width, h = height, mw = box_width, mh = box_height;
  int new_width, new_height;
  if (mw / mh > w / h) {
    new_height = ToSide(mh);
    new_width = ToSide(w / h * mh);
  } else {
    new_width = ToSide(mw);
    new_height = ToSide(h / w * mw);
  }
  if (bitmap.ScaleNearest(new_width, new_height)) WriteWorkedBitmap(bitmap, temporary, destination);
  return kOk;
}

std::string UnknownMethod(const std::string& method) {
  return std::string(kBadArgument) + kUnknownMethodHead + method + kUnknownMethodTail;
}

}  // namespace

std::string ImageProcess(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return kBadArgument;
  JsonPtr request = ParseGbkJson(arguments.front());
  if (!request) return kBadArgument;

  // A member that is not a JSON string (a number, say) counts as empty.
  const std::string method = MemberText(request.get(), "method");
  const std::string path = MemberText(request.get(), "path");
  std::string destination = MemberText(request.get(), "pathDest");
  if (destination.empty()) destination = path;
  const std::string max_width = MemberText(request.get(), "maxWidth");
  const std::string max_height = MemberText(request.get(), "maxHeight");

  if (method == "scale2" && !max_width.empty() && !max_height.empty())
    return Scale2(path, destination, max_width, max_height);
  if (method == "gray") return Gray(path, destination);
  if (method == "size") return Size(path);
  return UnknownMethod(method);
}
