// A connection to one data file through ODBC, with statements, queries
// answered as dataset texts, and the list of tables. One object serves one
// request; its lock orders the calls made on it.
//
// Texts in and out are code page 936. With the SQLite driver (driver kind 1)
// SQL goes to the driver as UTF-8 and names, values and driver messages come
// back from UTF-8.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "data/dataset_text.h"
#include "data/driver_text_decoder.h"
#include "data/odbc_database.h"

class CSQLDatabase_ODBC {
 public:
  CSQLDatabase_ODBC() = default;
  virtual ~CSQLDatabase_ODBC() = default;
  CSQLDatabase_ODBC(const CSQLDatabase_ODBC&) = delete;
  CSQLDatabase_ODBC& operator=(const CSQLDatabase_ODBC&) = delete;

  // Opens (or reopens) the connection. kDbOk or kDbOpenFailed with an error
  // text. error may be null here and below.
  [[nodiscard]] int32_t Open(const std::string& connect, std::string* error);

  // Runs a statement that returns no rows. kDbOk, kDbNotOpen, or
  // kDbStatementFailed + the ODBC return code with an error text.
  [[nodiscard]] int32_t Execute(const std::string& sql, std::string* error);

  // A statement that begins with "select" (after blanks and line breaks, in
  // any case) is a query and answers its rows as a dataset text; any other
  // statement runs through Execute and answers no text (dataset->length 0).
  // dataset may be null. Codes as for Execute.
  [[nodiscard]] int32_t GetDataset(const std::string& sql, DatasetText* dataset,
                                   std::string* error);

  // The same, writing the dataset text at the end of text, so that an answer
  // that holds it is built in one buffer. A statement that is not a query
  // writes nothing; on failure text is as it was.
  [[nodiscard]] int32_t AppendDataset(const std::string& sql, GrowingText& text,
                                      std::string* error);

  // Appends the names of all tables, in the driver's order. kDbOk,
  // kDbNotOpen, or kDbStatementFailed + the ODBC return code.
  [[nodiscard]] int32_t ListTables(std::vector<std::string>& tables, std::string* error);

  // 1 for the SQLite driver, which speaks UTF-8; 0 otherwise.
  int driver_kind() const { return driver_kind_; }

 private:
  // SQL as the driver takes it, and texts from the driver as ours.
  std::string ToDriver(const std::string& sql) const;
  void FromDriver(std::string& text);
  std::string_view FromDriver(std::string_view text);

  std::mutex lock_;
  CDatabase_Fixbug database_;
  int driver_kind_ = 0;
  DriverTextDecoder decoder_;
};
