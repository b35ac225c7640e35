// Reading the nine columns out of catalogue replies, well-formed and not.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "books/book_results.h"
#include "books/catalogue_sync.h"

namespace {

const std::vector<std::string> kStandardNames = {"bsid",      "gid",        "fullName",
                                                 "baseImage", "insallPara", "launchPara",
                                                 "bookMD5",   "bookPath",   "bookReader"};

std::string Quoted(const std::vector<std::string>& texts) {
  std::string out;
  for (size_t i = 0; i < texts.size(); ++i) out += (i ? ",\"" : "\"") + texts[i] + "\"";
  return out;
}

// A reply with the given members; data is the raw inside of the Data list.
std::string Reply(const std::string& uid, const std::string& rows, const std::string& columns,
                  const std::vector<std::string>& names, const std::string& data) {
  return "{\"Return\":\"0\",\"UID\":\"" + uid + "\",\"Para\":{\"Rows\":" + rows +
         ",\"Columns\":" + columns + ",\"ColumnName\":[" + Quoted(names) + "],\"Data\":[" + data +
         "]}}";
}

// Row r of a standard reply: its texts carry the row number.
std::vector<std::string> StandardRow(int r) {
  std::string n = std::to_string(r);
  return {"b" + n, "g" + n, "title" + n, "img" + n + ".png", "ip", "lp", "md5", "path" + n, "rd"};
}

std::string StandardData(int rows) {
  std::string data;
  for (int r = 0; r < rows; ++r) data += (r ? "," : "") + Quoted(StandardRow(r));
  return data;
}

struct DatasetCase {
  const char* name;
  std::string text;
  int result;
  std::vector<std::string> rows;  // expected on success
};

std::vector<DatasetCase> Cases() {
  std::vector<std::string> two_rows = StandardRow(0);
  for (const std::string& t : StandardRow(1)) two_rows.push_back(t);

  // Other order with an extra column in front, in upper case.
  std::vector<std::string> shuffled = {"PUBLISHER", "GID",       "BSID",       "fullname",
                                       "bookPath",  "baseImage", "insallPara", "launchPara",
                                       "bookMD5",   "BookReader"};
  std::string shuffled_data =
      Quoted({"press", "g7", "b7", "title7", "p7", "i7", "ip", "lp", "m7", "r7"});

  std::vector<std::string> no_reader(kStandardNames.begin(), kStandardNames.end() - 1);
  // Row 0 without its last text.
  std::vector<std::string> short_row = StandardRow(0);
  short_row.pop_back();
  std::string bad_cell = Quoted(short_row);
  return {
      {"two rows", Reply("u1", "\"2\"", "\"9\"", kStandardNames, StandardData(2)), kBookOk,
       two_rows},
      {"rows padded with blanks as the service writes them",
       Reply("u1", "\"2       \"", "\"9\"", kStandardNames, StandardData(2)), kBookOk, two_rows},
      {"counts as JSON numbers", Reply("u1", "2", "9", kStandardNames, StandardData(2)), kBookOk,
       two_rows},
      {"upper case names, other order, extra column",
       Reply("u1", "\"1\"", "\"10\"", shuffled, shuffled_data),
       kBookOk,
       {"b7", "g7", "title7", "i7", "ip", "lp", "m7", "p7", "r7"}},
      {"no rows", Reply("u1", "\"0\"", "\"9\"", kStandardNames, ""), kCatalogueMissingPart, {}},
      {"missing column",
       Reply("u1", "\"1\"", "\"8\"", no_reader, StandardData(1)),
       kCatalogueMissingPart,
       {}},
      {"Data one element short",
       Reply("u1", "\"2\"", "\"9\"", kStandardNames, Quoted(StandardRow(0)) + "," + bad_cell),
       kCatalogueMissingPart,
       {}},
      {"Data element not a string",
       Reply("u1", "\"1\"", "\"9\"", kStandardNames, bad_cell + ",17"),
       kCatalogueMissingPart,
       {}},
      {"Data element null",
       Reply("u1", "\"1\"", "\"9\"", kStandardNames, bad_cell + ",null"),
       kCatalogueMissingPart,
       {}},
      {"UID of another user",
       Reply("U1", "\"2\"", "\"9\"", kStandardNames, StandardData(2)),
       kCatalogueMissingPart,
       {}},
      {"not JSON", "<html>busy</html>", kCatalogueMissingPart, {}},
      {"no Para", "{\"Return\":\"0\",\"UID\":\"u1\"}", kCatalogueMissingPart, {}},
      {"no Data",
       "{\"UID\":\"u1\",\"Para\":{\"Rows\":\"1\",\"Columns\":\"9\",\"ColumnName\":[" +
           Quoted(kStandardNames) + "]}}",
       kCatalogueMissingPart,
       {}},
      {"huge Rows",
       Reply("u1", "\"99999999\"", "\"9\"", kStandardNames, StandardData(2)),
       kCatalogueMissingPart,
       {}},
      {"Rows beyond 32 bits",
       Reply("u1", "\"4294967297\"", "\"9\"", kStandardNames, StandardData(2)),
       kCatalogueMissingPart,
       {}},
      {"negative Rows",
       Reply("u1", "\"-2\"", "\"9\"", kStandardNames, StandardData(2)),
       kCatalogueMissingPart,
       {}},
      {"negative Columns",
       Reply("u1", "\"2\"", "\"-9\"", kStandardNames, StandardData(2)),
       kCatalogueMissingPart,
       {}},
      {"huge Columns",
       Reply("u1", "\"2\"", "\"2147483647\"", kStandardNames, StandardData(2)),
       kCatalogueMissingPart,
       {}},
      {"Columns narrower than the names",
       Reply("u1", "\"2\"", "\"5\"", kStandardNames, StandardData(2)),
       kCatalogueMissingPart,
       {}},
  };
}

TEST(CatalogueDatasetTest, TableOfReplies) {
  for (const DatasetCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> rows = {"kept"};
    EXPECT_EQ(ParseCatalogueDataset("u1", c.text, rows), c.result);
    std::vector<std::string> expected = {"kept"};
    if (c.result == kBookOk) expected.insert(expected.end(), c.rows.begin(), c.rows.end());
    EXPECT_EQ(rows, expected);
  }
}

}  // namespace
