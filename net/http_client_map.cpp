// The client's name/value maps and upload statistics.
#include <strings.h>

#include "net/http_client.h"

namespace Vexan {

namespace {

[[noreturn]] void NullName(const char* operation) {
  throw httpclientexceptionA::Argument(std::string("CHttpClientMapT::") + operation +
                                       ": szName can not be NULL.");
}

}  // namespace

bool CHttpClientMapT::CaseLess::operator()(const std::string& a, const std::string& b) const {
  return strcasecmp(a.c_str(), b.c_str()) < 0;
}

void CHttpClientMapT::Add(const char* name, const char* value, unsigned flags) {
  if (name == nullptr) NullName("Add");
  // multimap inserts after the equal names already there, keeping their order.
  map_.emplace(name, Entry{value == nullptr ? "" : value, flags});
}

const CHttpClientMapT::Entry* CHttpClientMapT::Get(const char* name) const {
  if (name == nullptr) NullName("Get");
  auto found = map_.find(name);
  if (found == map_.end()) return nullptr;
  // find() may land on any of several equal names; the first one counts.
  return &map_.lower_bound(name)->second;
}

void CHttpClientMapT::RemoveAll(const char* name) {
  if (name == nullptr) NullName("RemoveAll");
  map_.erase(name);
}

void CHttpPostStatT::Check(const char* query) const {
  if (!active_) {
    throw httpclientexceptionA::Argument(std::string("CHttpPostStatT::") + query +
                                         ": The post context is not active.");
  }
}

uint64_t CHttpPostStatT::TotalByte() const {
  Check("TotalByte");
  return total_bytes_;
}
uint64_t CHttpPostStatT::PostedByte() const {
  Check("PostedByte");
  return posted_bytes_;
}
size_t CHttpPostStatT::TotalCount() const {
  Check("TotalCount");
  return total_count_;
}
size_t CHttpPostStatT::PostedCount() const {
  Check("PostedCount");
  return posted_count_;
}
size_t CHttpPostStatT::FileCount() const {
  Check("FileCount");
  return file_count_;
}
size_t CHttpPostStatT::PostedFileCount() const {
  Check("PostedFileCount");
  return posted_file_count_;
}
const std::string& CHttpPostStatT::CurrParam() const {
  Check("CurrParam");
  return current_name_;
}
uint64_t CHttpPostStatT::CurrParamPostedByte() const {
  Check("CurrParamPostedByte");
  return current_posted_;
}
uint64_t CHttpPostStatT::CurrParamRemainByte() const {
  Check("CurrParamRemainByte");
  return current_remaining_;
}
bool CHttpPostStatT::CurrParamIsFile() const {
  Check("CurrParamIsFile");
  return current_is_file_;
}
bool CHttpPostStatT::CurrParamIsComplete() const {
  Check("CurrParamIsComplete");
  return current_complete_;
}

}  // namespace Vexan
