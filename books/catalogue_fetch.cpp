// The two downloads of a catalogue pass: a book's cover image and the
// digest of its newest package, each tried three times on data servers
// chosen afresh after a failure.
#include <string>

#include "books/book_collection.h"
#include "books/book_paths.h"
#include "books/book_results.h"
#include "books/catalogue_sync.h"
#include "config/parameter_store.h"
#include "net/request_helpers.h"
#include "platform/clock.h"
#include "util/file_io.h"
#include "util/path_names.h"
#include "util/string_split.h"
#include "util/text_encoding.h"

namespace {

constexpr int kTries = 3;
constexpr size_t kDigestLength = 32;

// Before each request: the program closes, or the pass is over.
bool GivesUp(const CataloguePass* pass) {
  return pass ? pass->ShouldEnd() : IsApplicationExiting();
}

}  // namespace

std::string CoverImageUrl(const std::string& image_path, const std::string& root) {
  std::string url = DataServerUrl(image_path, root);
  size_t slash = url.rfind('/');
  if (slash == std::string::npos) return url;
  return url.substr(0, slash + 1) + UrlEncodeText(AnsiToUtf8(url.substr(slash + 1)));
}

int FetchCoverImage(const std::string& image_path, const std::string& root, const std::string& base,
                    const CataloguePass* pass) {
  // The service names the file: only an image, and not among the
  // program's own files.
  if (!IsAllowedCoverPath(image_path)) return kCatalogueMissingPart;
  std::string local = CoverImagePath(image_path, base);
  CreateParentDirectories(local);
  uint64_t size = 0;
  if (GetFileSizeOf(local, size) && size != 0) return kBookOk;

  std::string url = CoverImageUrl(image_path, root);
  int result = kHttpTransportError;
  for (int attempt = 0; attempt < kTries; ++attempt) {
    if (GivesUp(pass)) return kApplicationExiting;
    // The file appears only once the whole image has arrived.
    result = HttpRequestToFile("GET", url, local);
    if (result == kHttpOk) return kBookOk;
    ReplaceUrlHost(url);
  }
  return result;
}

int FetchPackageDigest(const BookCollection& collection, std::string& digest,
                       const std::string& book_path, const std::string& package_id,
                       const CataloguePass* pass) {
  std::string url = DigestUrl(book_path, package_id, collection.DataServerRoot()) +
                    "?timemark=" + std::to_string(platform::TickCountMs());
  ReplaceUrlHost(url);
  int result = kHttpTransportError;
  std::string text;
  for (int attempt = 0; attempt < kTries; ++attempt) {
    if (GivesUp(pass)) return kApplicationExiting;
    result = HttpRequestText(text, "GET", url);
    if (result == kHttpOk && text.size() == kDigestLength) break;
    ReplaceUrlHost(url);
  }
  // A digest with a line end after it is still the digest.
  text = TrimWhiteSpace(text);
  if (text.size() != kDigestLength) return kBookRefused;
  if (result == kHttpOk) digest = text;
  return result;
}
