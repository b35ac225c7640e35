// The JSON text that describes a whole data file for pages: its tables with
// their rows, or just the table names, or the result of one statement.
//
//   {"FileName":"...","DBName":"...","DBData":[
//     {"TableName":"t","TableData":<dataset text or "">},...
//   ],"Error":"0","ErrorString":""}
//
// On failure DBData is left out and Error and ErrorString say why.
#pragma once

#include <cstdint>
#include <string>

#include "data/dataset_text.h"

// The description text of the file at path (code page 936). Without a
// statement every table is read ("select * from [name]"), or with
// names_only only listed; with a statement its result is the one entry, with
// an empty table name (a statement that returns no rows gives TableData "").
std::string ReadDatabaseFileJson(const std::string& path, bool names_only,
                                 const std::string& statement);

// The same, also answering the result code and, on failure, the error text.
int32_t ReadDatabaseFile(const std::string& path, bool names_only, const std::string& statement,
                         std::string& json, std::string* error);

// The same with the text in the buffer it was built in, for a large answer
// that should not be copied.
int32_t ReadDatabaseFile(const std::string& path, bool names_only, const std::string& statement,
                         DatasetText& json, std::string* error);
