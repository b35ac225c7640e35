// The local side of a catalogue pass: for each book its cover image, its
// package list and its record.
#include <string>
#include <vector>

#include "books/book_collection.h"
#include "books/book_results.h"
#include "books/catalogue.h"
#include "books/catalogue_sync.h"
#include "books/package_list.h"
#include "config/daily_log.h"
#include "platform/codepage.h"

namespace {

// The gid names the record and package-list files, so a gid that is empty
// or could climb out of their directory is not taken from the service.
bool IsUsableBookId(const std::string& gid) {
  if (gid.empty() || gid == "." || gid == "..") return false;
  for (size_t i = 0; i < gid.size(); ++i) {
    auto c = static_cast<unsigned char>(gid[i]);
    if (platform::IsGbkLeadByte(c) && i + 1 < gid.size()) {
      ++i;  // a trail byte may be 0x5C without being a separator
    } else if (c == '/' || c == '\\') {
      return false;
    }
  }
  return true;
}

// A pass whose user is gone stores nothing more.
bool Superseded(const CataloguePass* pass) {
  return pass && pass->UserChanged();
}

void SaveOrLog(const BookRecord& record) {
  if (SaveRecord(record) != kBookOk) WriteLogLine("ERR save book:" + record.BookId());
}

// The cover is on disk: the book's package list starts again empty.
void EmptyPackageList(BookCollection& collection, const std::string& gid,
                      const CataloguePass* pass) {
  if (Superseded(pass)) return;
  PackageList list;
  collection.FindPackageList(gid, list);
  ParsePackageList(list, std::string(), gid);
  collection.PutPackageList(list);
  WritePackageList(list);
}

// Appends the newest package to the book's list unless it is already last.
void RecordNewestPackage(BookCollection& collection, const std::string& gid,
                         const std::string& book_path, const CataloguePass* pass) {
  std::string digest;
  if (FetchPackageDigest(collection, digest, book_path, gid, pass) != kBookOk) return;
  if (Superseded(pass)) return;
  PackageList list;
  if (!collection.FindPackageList(gid, list)) {
    list.gid = gid;
    collection.PutPackageList(list);
  }
  if (!list.empty() && list.package_ids.back() == gid &&
      list.digests.size() == list.package_ids.size() && list.digests.back() == digest) {
    return;
  }
  list.digests.resize(list.package_ids.size());
  list.package_ids.push_back(gid);
  list.digests.push_back(digest);
  collection.PutPackageList(list);
  WritePackageList(list);
}

RecordPtr NewRecord(BookCollection& collection, const std::string* row,
                    const std::string& package_id, const std::string& digest) {
  BookFields f;
  f.gid = f.bookID = row[kColumnGid];
  f.bookTitle = row[kColumnFullName];
  f.imageURL = row[kColumnBaseImage];
  f.bookURL = row[kColumnBookPath];
  f.bookMD5 = digest;
  f.bookReader = row[kColumnBookReader];
  f.IID = f.editionName = f.editionDesc = row[kColumnFullName];
  f.bookPackageID = f.downloading_bookPackageID = f.last_bookPackageID = package_id;
  f.downloading_bookMD5 = f.last_bookMD5 = digest;
  auto record = std::make_shared<BookRecord>(&collection);
  record->SetFields(f);
  return record;
}

// Creates the book's record, or brings the newest package of an existing
// one up to date; nothing happens without a digest.
void UpdateRecordForRow(BookCollection& collection, const std::string* row,
                        const CataloguePass* pass) {
  const std::string& gid = row[kColumnGid];
  std::string package_id;
  std::string digest;
  PackageList list;
  if (collection.FindPackageList(gid, list) && !list.empty() &&
      list.digests.size() == list.package_ids.size()) {
    package_id = list.package_ids.back();
    digest = list.digests.back();
  } else {
    package_id = gid;
    if (FetchPackageDigest(collection, digest, row[kColumnBookPath], gid, pass) != kBookOk) return;
  }
  if (Superseded(pass)) return;

  RecordPtr record = collection.FindRecord(gid);
  if (!record) {
    RecordPtr fresh = NewRecord(collection, row, package_id, digest);
    record = collection.PutRecordIfAbsent(gid, fresh);
    // Another pass may have created it meanwhile; that one is updated.
    if (record == fresh) {
      SaveOrLog(*record);
      return;
    }
  }
  if (package_id.empty() || digest.empty()) return;
  bool changed = record->Update([&](BookFields& f) {
    if (f.last_bookPackageID == package_id && f.last_bookMD5 == digest) return false;
    f.last_bookPackageID = package_id;
    f.last_bookMD5 = digest;
    return true;
  });
  if (changed) SaveOrLog(*record);
}

}  // namespace

int ProcessCatalogueRows(BookCollection& collection, const std::vector<std::string>& rows,
                         const CataloguePass* pass) {
  for (size_t at = 0; at + kCatalogueColumns <= rows.size(); at += kCatalogueColumns) {
    if (pass ? pass->ShouldEnd() : IsApplicationExiting()) break;
    const std::string* row = &rows[at];
    const std::string& gid = row[kColumnGid];
    if (!IsUsableBookId(gid)) {
      WriteLogLine("ERR catalogue gid:" + gid);
      continue;
    }
    int cover = FetchCoverImage(row[kColumnBaseImage], collection.DataServerRoot(),
                                collection.program_directory(), pass);
    if (cover == kBookOk) {
      EmptyPackageList(collection, gid, pass);
    } else {
      RecordNewestPackage(collection, gid, row[kColumnBookPath], pass);
    }
    UpdateRecordForRow(collection, row, pass);
  }
  return kBookOk;
}
