// A book record's JSON on any text: read, written, and read again to the
// same fields.
#include <cstdint>
#include <string>

#include "books/book_record.h"
#include "fuzz/fuzz_support.h"
#include "util/json_tree.h"

namespace {
bool SameFields(const BookFields& a, const BookFields& b) { return RecordToJson(a) == RecordToJson(b); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  JsonPtr json = ParseJson(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!json) return 0;
  BookFields fields;
  ApplyRecordJson(json.get(), fields);
  std::string text = RecordToJson(fields);
  JsonPtr again = ParseJson(text);
  if (!again) return 0;
  BookFields reread;
  ApplyRecordJson(again.get(), reread);
  if (!SameFields(fields, reread)) __builtin_trap();
  return 0;
}
