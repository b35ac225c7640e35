// Catalogue synchronisation: one authorised request for the signed-in
// user's catalogue, kept as the collection's catalogue and cached on disk,
// then, for every book, its cover image, the digest of its newest package
// and its record brought up to date.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class BookCollection;
namespace platform {
class Event;
}

inline constexpr int kCatalogueMissingPart = 1002005;  // a reply without a required part
inline constexpr int kApplicationExiting = 1002023;  // a fetch given up because the program closes

// One catalogue pass: the user it was started for and the stop event of
// the thread that runs it (may be null). It ends at the next request once
// the program closes or the stop event is set, and once another user has
// signed in it stores nothing more: no catalogue, cache, list or record.
struct CataloguePass {
  const BookCollection* collection = nullptr;
  std::string uid;
  const platform::Event* stop = nullptr;

  // The collection's user is no longer the one the pass is for.
  bool UserChanged() const;
  // The pass must not send another request.
  bool ShouldEnd() const;
};

// The request text for the user.
std::string CatalogueRequestText(const std::string& uid, const std::string& sessionid);

// Reads "wwwhome_data", "url_getTomeRack" and "wwwhome_app" (placeholders
// completed with freshly chosen servers) into the collection's addresses.
void RefreshCollectionAddresses(BookCollection& collection);

// 1 when the request was sent and answered, whatever the answer; 0 when no
// user is signed in (or the uid cannot name a folder), no token is
// configured, the request failed, or stop was set before it was sent.
// stop (may be null) ends the pass between requests.
int SyncCatalogue(BookCollection& collection, const platform::Event* stop = nullptr);

// Appends nine texts per row to rows. 0; kCatalogueMissingPart for a
// missing or inconsistent part; 1002010 when parsing fails.
int ParseCatalogueDataset(const std::string& uid, const std::string& text,
                          std::vector<std::string>& rows);

// Parses and, on success, stores the catalogue; then, unless cache_only,
// processes its rows. The parse error, 0, or the rows' result.
// With a pass whose user has changed, nothing is stored (kBookRefused).
int ProcessCatalogue(BookCollection& collection, const std::string& uid, const std::string& text,
                     bool cache_only, const CataloguePass* pass = nullptr);

// Cover image, digest and record for each row (nine texts a row), until
// the pass ends (without a pass: until the program closes). 0.
int ProcessCatalogueRows(BookCollection& collection, const std::vector<std::string>& rows,
                         const CataloguePass* pass = nullptr);

// The address of a cover image: absolute, or below root, its file name
// URL-encoded as UTF-8.
std::string CoverImageUrl(const std::string& image_path, const std::string& root);

// 0 when the image is on disk (non-empty) afterwards; kApplicationExiting
// (also when the pass ends); kCatalogueMissingPart for a path that may not
// be written (IsAllowedCoverPath); otherwise the last request's error.
int FetchCoverImage(const std::string& image_path, const std::string& root, const std::string& base,
                    const CataloguePass* pass = nullptr);

// 0 with the 32-character digest of the package; kApplicationExiting (also
// when the pass ends); 1002010 when no 32-character text came back.
int FetchPackageDigest(const BookCollection& collection, std::string& digest,
                       const std::string& book_path, const std::string& package_id,
                       const CataloguePass* pass = nullptr);

// Reads the cached catalogue of uid and stores it without processing rows.
// 1010001 when it cannot be read; otherwise ProcessCatalogue's result.
int LoadCachedCatalogue(BookCollection& collection, const std::string& uid);

// The raw catalogue text when uid is the signed-in user (at least two
// characters, with case). 0, or 1002010.
int GetCatalogueText(const BookCollection& collection, const std::string& uid, std::string& text);
