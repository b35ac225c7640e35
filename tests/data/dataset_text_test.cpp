// The dataset text as the builder writes it, independent of any driver.
#include "data/dataset_text.h"

#include <cJSON.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Build(int columns, const std::vector<std::string>& names,
                  const std::vector<std::string>& values, uint32_t rows) {
  DatasetTextBuilder builder(columns);
  for (const std::string& n : names) builder.AddColumnName(n.c_str(), n.size());
  for (const std::string& v : values) builder.AddValue(v.c_str(), v.size());
  DatasetText text = builder.Finish(rows);
  EXPECT_EQ(text.length, std::strlen(text.data.get()) + 1);
  return std::string(text.view());
}

TEST(DatasetTextBuilderTest, WritesTheExactLayout) {
  EXPECT_EQ(Build(2, {"id", "name"}, {"1", "a", "2", "b"}, 2),
            "{\r\n\t\"Rows\":\"2\"       ,\r\n\t\"Columns\":\"2\",\r\n\t\"ColumnName\":"
            "[\"id\",\"name\"],\"Data\":[\"1\",\"a\",\"2\",\"b\"]\r\n}");
  EXPECT_EQ(Build(1, {"id"}, {}, 0),
            "{\r\n\t\"Rows\":\"0\"       ,\r\n\t\"Columns\":\"1\",\r\n\t\"ColumnName\":"
            "[\"id\"],\"Data\":[]\r\n}");
  EXPECT_EQ(Build(0, {}, {}, 0),
            "{\r\n\t\"Rows\":\"0\"       ,\r\n\t\"Columns\":\"0\",\r\n\t\"ColumnName\":"
            "[],\"Data\":[]\r\n}");
}

TEST(DatasetTextBuilderTest, RowCountFillsThePlaceholderField) {
  const struct {
    uint32_t rows;
    std::string field;
  } kCases[] = {
      {5, "\"Rows\":\"5\"       ,"},
      {1000000, "\"Rows\":\"1000000\" ,"},
      {12345678, "\"Rows\":\"12345678\","},
      {99999999, "\"Rows\":\"99999999\","},
  };
  for (const auto& c : kCases) {
    // A value that looks like the placeholder is not touched.
    std::string text = Build(1, {"99999999"}, {"99999999"}, c.rows);
    EXPECT_NE(text.find(c.field), std::string::npos) << text;
    EXPECT_NE(text.find("[\"99999999\"],\"Data\":[\"99999999\"]"), std::string::npos) << text;
  }
}

// Names and values far beyond the first 50000 bytes, with escapes that
// double them; ASan reports any write past the buffer.
TEST(DatasetTextBuilderTest, GrowsForLongNamesAndValues) {
  const std::string long_name(70000, 'n');
  const std::string quotes(60000, '"');
  std::vector<std::string> values;
  for (int i = 0; i < 3000; ++i) {
    values.push_back(i % 1000 == 0 ? quotes : "\\value\t" + std::to_string(i));
  }
  std::string text = Build(2, {long_name, "b"}, values, 1500);

  cJSON* root = cJSON_Parse(text.c_str());
  ASSERT_NE(root, nullptr);
  cJSON* names = cJSON_GetObjectItem(root, "ColumnName");
  ASSERT_EQ(cJSON_GetArraySize(names), 2);
  EXPECT_EQ(cJSON_GetStringValue(cJSON_GetArrayItem(names, 0)), long_name);
  cJSON* data = cJSON_GetObjectItem(root, "Data");
  ASSERT_EQ(cJSON_GetArraySize(data), 3000);
  for (int i : {0, 1, 999, 1000, 2999}) {
    EXPECT_EQ(cJSON_GetStringValue(cJSON_GetArrayItem(data, i)), values[i]) << i;
  }
  EXPECT_STREQ(cJSON_GetStringValue(cJSON_GetObjectItem(root, "Rows")), "1500");
  cJSON_Delete(root);
}

// Inside a larger answer the dataset follows text of its own: only the
// dataset's placeholder is replaced, and more text can follow it.
TEST(DatasetTextBuilderTest, WritesIntoTextThatIsAlreadyThere) {
  GrowingText text;
  const std::string head = "{\"before\":\"99999999\",\"TableData\":";
  text.Append(head);
  DatasetTextBuilder builder(1, text);
  builder.AddColumnName("v", 1);
  builder.AddValue("99999999", 8);
  builder.Close(1);
  text.Append("}");
  DatasetText answer = text.Release();
  EXPECT_EQ(answer.view(), head +
                               "{\r\n\t\"Rows\":\"1\"       ,\r\n\t\"Columns\":\"1\",\r\n\t"
                               "\"ColumnName\":[\"v\"],\"Data\":[\"99999999\"]\r\n}}");
  EXPECT_EQ(answer.length, answer.view().size() + 1);
  EXPECT_EQ(answer.data[answer.view().size()], '\0');
}

TEST(GrowingTextTest, KeepsItsTextWhileItGrowsAndCutsBack) {
  GrowingText text;
  EXPECT_EQ(text.Release().length, 0u);  // never written: no text at all

  // Past 4 MiB the text moves into a mapping of its own, which then grows
  // by remapping: what was written must come along every time.
  std::string expected;
  for (int i = 0; expected.size() < (size_t{20} << 20); ++i) {
    std::string piece(1000 + i * 37, static_cast<char>('a' + i % 26));
    text.Append(piece);
    expected += piece;
  }
  size_t kept = text.size();
  text.AppendQuoted("x\"y", 3);
  EXPECT_EQ(std::string(text.data() + kept, text.size() - kept), "\"x\\\"y\"");
  text.Truncate(kept);
  text.Truncate(kept + 100);  // never longer than it was
  DatasetText released = text.Release();
  EXPECT_TRUE(released.view() == expected);  // not printed: 20 MiB
  EXPECT_EQ(text.size(), 0u);
}

// Values of printable ASCII without a quote or backslash go in as they are,
// checked eight bytes at a time; any other byte, wherever it stands in a
// value of any length, sends the value the escaping way, and the text is the
// same either way.
TEST(DatasetTextBuilderTest, PlainValuesAreTheOnesThatNeedNoEscape) {
  for (size_t length : {1u, 2u, 7u, 8u, 9u, 15u, 16u, 17u, 24u}) {
    for (size_t at : {size_t{0}, length / 2, length - 1}) {
      for (int byte = 0; byte < 256; ++byte) {
        std::string value(length, 'x');
        value[at] = static_cast<char>(byte);
        bool plain = byte >= 0x20 && byte <= 0x7F && byte != '"' && byte != '\\';
        DatasetTextBuilder fast(1);
        DatasetTextBuilder escaping(1);
        for (DatasetTextBuilder* builder : {&fast, &escaping}) builder->AddColumnName("v", 1);
        EXPECT_EQ(fast.AddPlainValue(value.data(), length), plain) << length << " " << at << " "
                                                                    << byte;
        if (!plain) fast.AddValue(value.c_str(), length);
        escaping.AddValue(value.c_str(), length);
        ASSERT_EQ(fast.Finish(1).view(), escaping.Finish(1).view());
      }
    }
  }
  DatasetTextBuilder empty(1);
  EXPECT_TRUE(empty.AddPlainValue("", 0));
  EXPECT_TRUE(empty.AddPlainValue("a", 1));
  EXPECT_NE(empty.Finish(2).view().find("\"Data\":[\"\",\"a\"]"), std::string_view::npos);
}

}  // namespace
