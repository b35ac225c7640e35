// The program keeps its texts in code page 936 and relies on the compiler to
// store narrow literals that way.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/codepage.h"

namespace {

std::string FromUtf8Literal(std::u8string_view utf8) {
  return platform::Utf8ToGbk(
      std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}

TEST(LiteralCharsetTest, NarrowLiteralsAreCodePage936) {
  EXPECT_EQ(std::string_view("正在下载"), "\xD5\xFD\xD4\xDA\xCF\xC2\xD4\xD8");
  EXPECT_EQ(sizeof("提示"), 5u);
}

TEST(LiteralCharsetTest, MessagesMatchTheirUtf8Text) {
  struct Case {
    std::string_view narrow;
    std::u8string_view utf8;
  };
  const Case cases[] = {
      {"提示", u8"提示"},
      {"程序已经启动了一个实例，不能同时启动多个实例！",
       u8"程序已经启动了一个实例，不能同时启动多个实例！"},
      {"正在退出数字教材，请稍候...", u8"正在退出数字教材，请稍候..."},
      {"错误信息：%s；“引号”、《书名》……—·", u8"错误信息：%s；“引号”、《书名》……—·"},
      {"ERR:参数不正确", u8"ERR:参数不正确"},
  };
  for (const Case& c : cases) {
    std::string expected = FromUtf8Literal(c.utf8);
    EXPECT_EQ(expected.find('?'), std::string::npos);
    EXPECT_EQ(c.narrow, expected);
  }
}

}  // namespace
