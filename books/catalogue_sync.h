// Catalogue synchronisation: one authorised request for the signed-in
// user's catalogue, kept as the collection's catalogue and cached on disk,
// then, for every book, its cover image, the digest of its newest package
// and its record brought up to date.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class BookCollection;

inline constexpr int kCatalogueMissingPart = 1002005;  // a reply without a required part
inline constexpr int kApplicationExiting = 1002023;  // a fetch given up because the program closes

// The request text for the user.
std::string CatalogueRequestText(const std::string& uid, const std::string& sessionid);

// Reads "wwwhome_data", "url_getTomeRack" and "wwwhome_app" (placeholders
// completed with freshly chosen servers) into the collection's addresses.
void RefreshCollectionAddresses(BookCollection& collection);

// 1 when the request was sent and answered, whatever the answer; 0 when no
// user is signed in, no token is configured or the request failed.
int SyncCatalogue(BookCollection& collection);

// Appends nine texts per row to rows. 0; kCatalogueMissingPart for a
// missing or inconsistent part; 1002010 when parsing fails.
int ParseCatalogueDataset(const std::string& uid, const std::string& text,
                          std::vector<std::string>& rows);

// Parses and, on success, stores the catalogue; then, unless cache_only,
// processes its rows. The parse error, 0, or the rows' result.
int ProcessCatalogue(BookCollection& collection, const std::string& uid, const std::string& text,
                     bool cache_only);

// Cover image, digest and record for each row (nine texts a row). 0.
int ProcessCatalogueRows(BookCollection& collection, const std::vector<std::string>& rows);

// The address of a cover image: absolute, or below root, its file name
// URL-encoded as UTF-8.
std::string CoverImageUrl(const std::string& image_path, const std::string& root);

// 0 when the image is on disk (non-empty) afterwards; kApplicationExiting;
// otherwise the last request's error.
int FetchCoverImage(const std::string& image_path, const std::string& root,
                    const std::string& base);

// 0 with the 32-character digest of the package; kApplicationExiting;
// 1002010 when no 32-character text came back.
int FetchPackageDigest(const BookCollection& collection, std::string& digest,
                       const std::string& book_path, const std::string& package_id);

// Reads the cached catalogue of uid and stores it without processing rows.
// 1010001 when it cannot be read; otherwise ProcessCatalogue's result.
int LoadCachedCatalogue(BookCollection& collection, const std::string& uid);

// The raw catalogue text when uid is the signed-in user (at least two
// characters, with case). 0, or 1002010.
int GetCatalogueText(const BookCollection& collection, const std::string& uid, std::string& text);
