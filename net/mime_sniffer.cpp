#include "net/mime_sniffer.h"

#include <magic.h>

#include <memory>

namespace {

constexpr const char kFallback[] = "application/octet-stream";

struct MagicClose {
  void operator()(magic_set* cookie) const { magic_close(cookie); }
};

}  // namespace

std::string SniffMimeType(const void* data, size_t size) {
  if (size == 0) return kFallback;
  // A cookie of its own per call: libmagic cookies are not thread-safe, and
  // uploads are rare enough that loading the database each time is fine.
  std::unique_ptr<magic_set, MagicClose> cookie(magic_open(MAGIC_MIME_TYPE | MAGIC_ERROR));
  if (!cookie || magic_load(cookie.get(), nullptr) != 0) return kFallback;
  const char* type = magic_buffer(cookie.get(), data, size);
  if (type == nullptr || *type == '\0') return kFallback;
  std::string result = type;
  if (result == "application/x-empty") return kFallback;
  return result;
}
