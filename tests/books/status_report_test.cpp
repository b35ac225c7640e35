// The status texts the page polls for, byte for byte.
#include "books/status_report.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "books/book_collection.h"
#include "books/book_results.h"
#include "tests/support/program_dir.h"

namespace {

class StatusReportTest : public testing_support::ProgramDirSandbox {
 protected:
  // One catalogue row per (bsid, gid).
  void Catalogue(const std::vector<std::pair<std::string, std::string>>& books) {
    std::vector<std::string> rows;
    for (const auto& [bsid, gid] : books) {
      std::vector<std::string> row(kCatalogueColumns);
      row[kColumnBsid] = bsid;
      row[kColumnGid] = gid;
      rows.insert(rows.end(), row.begin(), row.end());
    }
    collection_.catalogue().Store("raw", rows);
  }
  void Record(const std::string& gid, uint32_t status, uint32_t total, uint32_t done,
              bool newest_installed = true) {
    auto r = std::make_shared<BookRecord>(&collection_);
    r->Update([&](BookFields& f) {
      f.gid = f.bookID = gid;
      f.bookStatus = status;
      f.downloading_bookSize = total;
      f.downloading_downloadedSize = done;
      f.bookPackageID = "p1";
      f.last_bookPackageID = newest_installed ? "p1" : "p2";
    });
    collection_.PutRecord(gid, r);
  }
  std::string Data() {
    std::string report = BuildStatusReport(collection_);
    size_t start = report.find("\"Data\":[");
    return report.substr(start + 8, report.size() - start - 8 - 3);
  }
  BookCollection collection_;
};

TEST_F(StatusReportTest, WholeTextForAnEmptyCatalogue) {
  collection_.SetUser("u1", "s9", "name", "pw");
  EXPECT_EQ(BuildStatusReport(collection_),
            "{\r\n\"Function\": \"Request\",\r\n\"UID\": \"u1\",\r\n\"SessionID\": \"s9\",\r\n"
            "\"ID\": \"\",\r\n\"Status\": \"1\",\r\n\"Return\": \"0\",\r\n\"Message\":\"\","
            "\"Para\":{\"Rows\":\"0\",\"Columns\":\"4\",\"ColumnName\":[\"bsid\",\"percent\","
            "\"tip\",\"status\"],\"Data\":[]}}");
}

TEST_F(StatusReportTest, EveryRowCase) {
  const struct {
    const char* label;
    bool has_record;
    uint32_t status;
    uint32_t total, done;
    bool newest;
    const char* row;
  } kCases[] = {
      {"no record", false, 0, 0, 0, true, "\"b\",\"0\",\"已下载:0%\",\"未安装\""},
      {"installing", true, 8, 100, 3, true, "\"b\",\"99\",\"正在安装...\",\"未安装\""},
      {"installing an installed book", true, 8 | 16, 100, 3, true,
       "\"b\",\"99\",\"正在安装...\",\"已安装\""},
      {"upgrading", true, 2 | 16, 200, 50, false, "\"b\",\"25\",\"正在升级25%\",\"下载中\""},
      {"downloading", true, 2, 3, 2, true, "\"b\",\"66\",\"正在下载:66%\",\"下载中\""},
      {"downloading, size unknown", true, 2, 0, 500, true,
       "\"b\",\"0\",\"正在下载:0%\",\"下载中\""},
      {"installed, newest", true, 16, 10, 10, true, "\"b\",\"100\",\"\",\"已安装\""},
      {"installed, upgradable", true, 16, 10, 10, false, "\"b\",\"100\",\"\",\"可升级\""},
      {"not installed", true, 0, 1000, 100, true, "\"b\",\"10\",\"未安装\",\"未安装\""},
      {"beyond 2^31", true, 2, 4000000000u, 3000000000u, true,
       "\"b\",\"75\",\"正在下载:75%\",\"下载中\""},
  };
  for (const auto& c : kCases) {
    collection_.ClearRecords();
    Catalogue({{"b", "g"}});
    if (c.has_record) Record("g", c.status, c.total, c.done, c.newest);
    EXPECT_EQ(Data(), c.row) << c.label;
  }
}

TEST_F(StatusReportTest, RowsFollowTheCatalogueOrderAndAreEscaped) {
  Catalogue({{"b2", "g2"}, {"b1", "g1"}, {"b\"3", "g3"}});
  Record("g1", 16, 1, 1);
  std::string report = BuildStatusReport(collection_);
  EXPECT_NE(report.find("\"Rows\":\"3\""), std::string::npos);
  EXPECT_EQ(Data(),
            "\"b\\\"3\",\"0\",\"已下载:0%\",\"未安装\",\"b1\",\"100\",\"\",\"已安装\","
            "\"b2\",\"0\",\"已下载:0%\",\"未安装\"");
}

TEST_F(StatusReportTest, BookStatusArray) {
  Catalogue({{"b1", "g1"}, {"b2", "g2"}});
  Record("g1", 2 | 16, 10, 4, false);
  std::string text;
  ASSERT_EQ(BuildBookStatusArray(collection_, "b1", "BookStatus", text), kBookOk);
  EXPECT_EQ(text,
            "[{\"Type\":\"BookStatus\",\"bsid\":\"b1\",\"bookID\":\"g1\",\"bookStatus\":\"18\","
            "\"newVersion\":\"1\",\"Desc\":\"40\"}]");
  ASSERT_EQ(BuildBookStatusArray(collection_, "", "bookStatus", text), kBookOk);
  EXPECT_EQ(text,
            "[{\"Type\":\"bookStatus\",\"bsid\":\"b1\",\"bookID\":\"g1\",\"bookStatus\":\"18\","
            "\"newVersion\":\"1\",\"Desc\":\"40\"},"
            "{\"Type\":\"bookStatus\",\"bsid\":\"b2\",\"bookID\":\"g2\",\"bookStatus\":\"0\","
            "\"newVersion\":\"0\",\"Desc\":\"\"}]");
  EXPECT_EQ(BuildBookStatusArray(collection_, "unknown", "bookStatus", text), kBookRefused);
}

}  // namespace

namespace {

// Reports run on the page's thread while workers change records and the
// map; every value read must be whole (the thread sanitizer checks the rest).
TEST_F(StatusReportTest, ReportsWhileAWorkerChangesTheRecords) {
  Catalogue({{"b1", "g1"}, {"b2", "g2"}});
  Record("g1", 2, 1000, 0);
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (uint32_t i = 0; i <= 1000; ++i) {
      if (RecordPtr r = collection_.FindRecord("g1"))
        r->Update([i](BookFields& f) { f.downloading_downloadedSize = i; });
      if (i % 100 == 0) Record("g2", 16, 1, 1, i % 200 == 0);
    }
    done = true;
  });
  size_t reports = 0;
  while (!done || reports == 0) {
    std::string report = BuildStatusReport(collection_);
    EXPECT_NE(report.find("\"Rows\":\"2\""), std::string::npos);
    ++reports;
  }
  worker.join();
  EXPECT_NE(BuildStatusReport(collection_).find("\"b1\",\"100\",\"正在下载:100%\""),
            std::string::npos);
}

}  // namespace
