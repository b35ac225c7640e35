#include "services/image_process.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <vector>

#include "tests/support/sandbox.h"

namespace {

using Rgb = std::array<uint8_t, 3>;

// Narrow literals are code page 936 here, as the results are.
const std::string kBadArgument = "ERR:参数不正确";
const std::string kCannotLoad = kBadArgument + ":无法装载图像文件";
const std::string kZeroSide = kBadArgument + ":maxHeight 或 maxWidth 不能为0";
std::string UnknownMethod(const std::string& method) {
  return kBadArgument + ": 无法识别的method:" + method + "，或者method对应的参数有误";
}

struct ImageInfo {
  std::string format;  // gdk-pixbuf's name, empty when unreadable
  int width = 0;
  int height = 0;
};

class ImageProcessTest : public testing_support::Sandbox {
 protected:
  // Writes an image of one colour, or of the given pixels (one row each),
  // through gdk-pixbuf in the format named ("png", "jpeg", "bmp").
  void MakeImage(const std::string& relative, int width, int height, const char* format,
                 Rgb colour = {90, 140, 200}) {
    std::vector<std::vector<Rgb>> rows(static_cast<size_t>(height),
                                       std::vector<Rgb>(static_cast<size_t>(width), colour));
    MakeImage(relative, rows, format);
  }
  void MakeImage(const std::string& relative, const std::vector<std::vector<Rgb>>& rows,
                 const char* format) {
    const int height = static_cast<int>(rows.size());
    const int width = static_cast<int>(rows[0].size());
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    ASSERT_NE(pixbuf, nullptr);
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        for (int c = 0; c < 3; ++c) pixels[y * stride + x * 3 + c] = rows[y][x][c];
    GError* error = nullptr;
    const bool saved = gdk_pixbuf_save(pixbuf, Path(relative).c_str(), format, &error, nullptr);
    if (error != nullptr) g_error_free(error);
    g_object_unref(pixbuf);
    ASSERT_TRUE(saved) << relative;
  }

  ImageInfo Info(const std::string& relative) const {
    ImageInfo info;
    GdkPixbufFormat* format =
        gdk_pixbuf_get_file_info(Path(relative).c_str(), &info.width, &info.height);
    if (format == nullptr) return ImageInfo();
    gchar* name = gdk_pixbuf_format_get_name(format);
    info.format = name;
    g_free(name);
    return info;
  }

  // The pixels of a decoded image file, top row first.
  std::vector<std::vector<Rgb>> Pixels(const std::string& relative) const {
    std::vector<std::vector<Rgb>> rows;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(Path(relative).c_str(), nullptr);
    if (pixbuf == nullptr) return rows;
    const guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    for (int y = 0; y < gdk_pixbuf_get_height(pixbuf); ++y) {
      rows.emplace_back();
      for (int x = 0; x < gdk_pixbuf_get_width(pixbuf); ++x) {
        const guchar* p = pixels + y * stride + x * channels;
        rows.back().push_back({p[0], p[1], p[2]});
      }
    }
    g_object_unref(pixbuf);
    return rows;
  }

  // A request text with the members given as name/value texts; a value of
  // "#..." is put in unquoted (a JSON number, say).
  std::string Request(std::initializer_list<std::pair<const char*, std::string>> members) const {
    std::string json = "{";
    for (const auto& [name, value] : members) {
      if (json.size() > 1) json += ",";
      json += std::string("\"") + name + "\":";
      json += value.starts_with("#") ? value.substr(1) : "\"" + value + "\"";
    }
    return json + "}";
  }

  std::string Run(const std::string& request) const { return ImageProcess({request}); }

  // No file named after the temporary BMP is left in the sandbox.
  bool NoTemporaryFiles() const {
    for (const auto& entry : std::filesystem::directory_iterator(dir())) {
      if (entry.path().string().ends_with(".tmp.bmp")) return false;
    }
    return true;
  }
};

TEST_F(ImageProcessTest, SizeReportsWidthAndHeightOrZeroes) {
  MakeImage("photo.png", 640, 480, "png");
  MakeImage("photo.jpg", 31, 17, "jpeg");
  MakeImage("photo.bmp", 3, 2, "bmp");
  MakeImage("widest.png", 16384, 2, "png");
  MakeImage("too-wide.png", 16385, 2, "png");
  MakeImage("too-high.png", 2, 16385, "png");
  WriteFile("text.png", "not an image at all");
  WriteFile("empty.png", "");
  const std::string png = ReadFile("photo.png");
  WriteFile("cut.png", png.substr(0, png.size() / 2));
  std::filesystem::create_directory(Path("folder.png"));
  // A GBK name whose second byte is "\" (0x5C), given in the request in GBK.
  MakeImage(reinterpret_cast<const char*>(u8"图片俓.png"), 7, 5, "png");

  const struct {
    std::string path;
    const char* result;
  } kCases[] = {
      {Path("photo.png"), "640,480"},  {Path("photo.jpg"), "31,17"},  {Path("photo.bmp"), "3,2"},
      {Path("widest.png"), "16384,2"}, {Path("too-wide.png"), "0,0"}, {Path("too-high.png"), "0,0"},
      {Path("text.png"), "0,0"},       {Path("empty.png"), "0,0"},    {Path("cut.png"), "0,0"},
      {Path("folder.png"), "0,0"},     {Path("missing.png"), "0,0"},  {"", "0,0"},
      {dir() + "/图片俓.png", "7,5"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(Run(Request({{"method", "size"}, {"path", c.path}})), c.result);
  }
}

TEST_F(ImageProcessTest, RequestsThatNameNoMethodWeCarryOut) {
  MakeImage("wide.jpg", 400, 200, "jpeg");
  const std::string source = ReadFile("wide.jpg");
  const std::string path = Path("wide.jpg");
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::string result;
  } kCases[] = {
      {"no argument", {}, kBadArgument},
      {"not JSON", {"size " + path}, kBadArgument},
      {"a non-text argument", {""}, kBadArgument},
      {"method blur", {Request({{"method", "blur"}, {"path", path}})}, UnknownMethod("blur")},
      {"method compared exactly",
       {Request({{"method", "Size"}, {"path", path}})},
       UnknownMethod("Size")},
      {"method as a number", {Request({{"method", "#3"}, {"path", path}})}, UnknownMethod("")},
      {"not an object", {"[1,2]"}, UnknownMethod("")},
      {"member names without case",
       {Request({{"METHOD", "size"}, {"Path", path}}), "ignored"},
       "400,200"},
      {"maxWidth as a number",
       {Request(
           {{"method", "scale2"}, {"path", path}, {"maxWidth", "#100"}, {"maxHeight", "100"}})},
       UnknownMethod("scale2")},
      {"maxHeight missing",
       {Request({{"method", "scale2"}, {"path", path}, {"maxWidth", "100"}})},
       UnknownMethod("scale2")},
      {"maxWidth empty",
       {Request({{"method", "scale2"}, {"path", path}, {"maxWidth", ""}, {"maxHeight", "100"}})},
       UnknownMethod("scale2")},
      {"maxWidth abc",
       {Request({{"method", "scale2"}, {"path", path}, {"maxWidth", "abc"}, {"maxHeight", "100"}})},
       kZeroSide},
      {"maxHeight 0",
       {Request({{"method", "scale2"}, {"path", path}, {"maxWidth", "50"}, {"maxHeight", " 0"}})},
       kZeroSide},
      {"source cannot be loaded",
       {Request({{"method", "scale2"},
                 {"path", Path("missing.jpg")},
                 {"maxWidth", "abc"},
                 {"maxHeight", "100"}})},
       kCannotLoad},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ImageProcess(c.arguments), c.result);
    EXPECT_EQ(ReadFile("wide.jpg"), source);
    EXPECT_TRUE(NoTemporaryFiles());
  }
}

TEST_F(ImageProcessTest, Scale2FitsTheImageIntoTheBoxKeepingItsProportions) {
  const struct {
    const char* name;
    const char* source;
    const char* source_format;
    int width, height;
    std::string max_width, max_height;
    const char* destination;  // empty: the source is replaced
    ImageInfo expected;       // of the destination
  } kCases[] = {
      {"wide JPEG over itself", "a.jpg", "jpeg", 400, 200, "100", "100", "", {"jpeg", 100, 50}},
      {"tall JPEG over itself", "a.jpg", "jpeg", 200, 400, "100", "100", "", {"jpeg", 50, 100}},
      {"box limited by its width", "a.png", "png", 400, 200, "100", "1000", "", {"png", 100, 50}},
      {"box limited by its height", "a.png", "png", 400, 200, "1000", "20", "", {"png", 40, 20}},
      {"box sides as C numbers",
       "a.png",
       "png",
       400,
       200,
       " +300px",
       "1000",
       "",
       {"png", 300, 150}},
      {"a side below 1 becomes 1", "a.png", "png", 401, 3, "100", "100", "", {"png", 100, 1}},
      {"negative box", "a.png", "png", 400, 200, "-5", "100", "", {"png", 1, 1}},
      {"to another file and format by extension",
       "a.png",
       "png",
       400,
       200,
       "100",
       "100",
       "b.JPG",
       {"jpeg", 100, 50}},
      {"to BMP", "a.jpg", "jpeg", 400, 200, "100", "100", "b.bmp", {"bmp", 100, 50}},
      {"already fits, converted", "a.png", "png", 80, 60, "100", "100", "b.bmp", {"bmp", 80, 60}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    MakeImage(c.source, c.width, c.height, c.source_format);
    const std::string request = Request({{"method", "scale2"},
                                         {"path", Path(c.source)},
                                         {"pathDest", *c.destination ? Path(c.destination) : ""},
                                         {"maxWidth", c.max_width},
                                         {"maxHeight", c.max_height}});
    EXPECT_EQ(Run(request), "OK");
    const ImageInfo got = Info(*c.destination ? c.destination : c.source);
    EXPECT_EQ(got.format, c.expected.format);
    EXPECT_EQ(got.width, c.expected.width);
    EXPECT_EQ(got.height, c.expected.height);
    if (*c.destination) {
      EXPECT_EQ(Info(c.source).width, c.width);  // the source stays as it was
      std::filesystem::remove(Path(c.destination));
    }
    EXPECT_TRUE(NoTemporaryFiles());
  }
}

TEST_F(ImageProcessTest, Scale2OfAnImageThatFitsKeepsItsBytes) {
  MakeImage("small.jpg", 80, 60, "jpeg");
  const std::string bytes = ReadFile("small.jpg");
  const std::string box = R"(,"maxWidth":"100","maxHeight":"100"})";
  const std::string head = R"({"method":"scale2","path":")" + Path("small.jpg") + "\"";

  EXPECT_EQ(Run(head + box), "OK");
  EXPECT_EQ(ReadFile("small.jpg"), bytes);
  EXPECT_EQ(Run(head + R"(,"pathDest":")" + Path("copy.jpeg") + "\"" + box), "OK");
  EXPECT_EQ(ReadFile("copy.jpeg"), bytes);
  EXPECT_TRUE(NoTemporaryFiles());
}

TEST_F(ImageProcessTest, Scale2SamplesTheSourceColumns) {
  // Four columns of distinct colours shrunk to two: the steps 4/2 * 256 take
  // columns 0 and 2. The colours pass the BMP file in both directions.
  const Rgb red = {255, 0, 0}, green = {0, 255, 0}, blue = {0, 0, 255}, grey = {128, 128, 128};
  MakeImage("cols.png", {{red, green, blue, grey}, {red, green, blue, grey}}, "png");
  EXPECT_EQ(Run(Request({{"method", "scale2"},
                         {"path", Path("cols.png")},
                         {"maxWidth", "2"},
                         {"maxHeight", "2"}})),
            "OK");
  const std::vector<std::vector<Rgb>> expected = {{red, blue}};
  EXPECT_EQ(Pixels("cols.png"), expected);
}

TEST_F(ImageProcessTest, GrayWritesGreyLevels) {
  const Rgb grey200 = {200, 200, 200}, red = {255, 0, 0}, green = {0, 255, 0}, blue = {0, 0, 255};
  MakeImage("c.png", {{grey200, red}, {green, blue}}, "png");

  EXPECT_EQ(
      Run(Request({{"method", "gray"}, {"path", Path("c.png")}, {"pathDest", Path("g.png")}})),
      "OK");
  const std::vector<std::vector<Rgb>> expected = {{{199, 199, 199}, {75, 75, 75}},
                                                  {{149, 149, 149}, {28, 28, 28}}};
  EXPECT_EQ(Pixels("g.png"), expected);
  EXPECT_EQ(Pixels("c.png")[0][1], red);  // the source is kept
  EXPECT_TRUE(NoTemporaryFiles());

  // Without a destination the source itself turns grey.
  EXPECT_EQ(Run(Request({{"method", "gray"}, {"path", Path("c.png")}})), "OK");
  EXPECT_EQ(Pixels("c.png"), expected);
  EXPECT_TRUE(NoTemporaryFiles());
}

TEST_F(ImageProcessTest, GrayAnswersOkWhenNothingCanBeWritten) {
  MakeImage("c.png", 4, 4, "png");
  const struct {
    const char* name;
    std::string path;
    std::string destination;
  } kCases[] = {
      {"unreadable source", Path("missing.png"), Path("out.png")},
      {"extension we do not write", Path("c.png"), Path("out.gif")},
      {"no extension", Path("c.png"), Path("out")},
      {"destination in a missing folder", Path("c.png"), Path("none/out.png")},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Run(Request({{"method", "gray"}, {"path", c.path}, {"pathDest", c.destination}})),
              "OK");
    EXPECT_FALSE(std::filesystem::exists(c.destination));
    EXPECT_TRUE(NoTemporaryFiles());
  }
}

}  // namespace
