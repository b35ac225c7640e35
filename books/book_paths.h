// Where the book files live, below the program directory P:
//   P/data/bookinf/<bookID>.inf   record files (".err" appended when damaged)
//   P/data/bookinf/<gid>.lst      package lists
//   P/data/user/<uid>/bs.dat      the catalogue cache
//   P/data/<uid>/bs.dat, bsd.dat  files of an older client
//   <base>/data/books/...         packages and install directories
// Paths from outside (book and image paths of the catalogue) may use "/" or
// "\"; both become "/".
#pragma once

#include <string>

std::string RecordPath(const std::string& book_id);
// The record path with ".err" appended.
std::string DamagedRecordPath(const std::string& record_path);
std::string PackageListPath(const std::string& gid);

// True when text can stand as one component of a path as it is: not empty,
// not "." or "..", without "/" or "\" (a GBK trail byte 0x5C is no
// separator) and without control characters.
bool IsPlainFileName(const std::string& text);
// A uid names a folder of the user's files: it must be a plain file name.
bool IsSafeUid(const std::string& uid);

// The user's files; empty for a uid that IsSafeUid refuses.
std::string CataloguePath(const std::string& uid);
std::string LegacyCataloguePath(const std::string& uid);
std::string LegacyBookListPath(const std::string& uid);

// The local package file of a book: the directory part of book_url below
// base/data/books, and the file name book_id + ".zip". The parent
// directories are created. Components "." and ".." of book_url and book_id
// are dropped, so the result always lies below base/data/books.
std::string PackagePath(const std::string& book_url, const std::string& book_id,
                        const std::string& base);
// The package path without its ".zip" ending (unchanged without one).
std::string InstallDirPath(const std::string& package_path);

// path below the data server root, or path itself when it is an absolute
// web address; the root's trailing and the path's leading "/" removed.
std::string DataServerUrl(const std::string& path, const std::string& root);

// The package's address on the data server: book_url (absolute) or
// root/book_url, its file name replaced by package_id + ".zip".
std::string PackageUrl(const std::string& book_url, const std::string& package_id,
                       const std::string& root);
std::string DigestUrl(const std::string& book_url, const std::string& package_id,
                      const std::string& root);

// The local copy of a cover image: image_url joined to base, "." and ".."
// components dropped.
std::string CoverImagePath(const std::string& image_url, const std::string& base);

// Whether a cover image may be written where CoverImagePath puts it: the
// name ends in .jpg, .jpeg, .png, .gif or .bmp (without regard to case),
// and the file lies neither in system/ or DTM/ nor among the records and
// package lists (data/bookinf) or the users' catalogues (data/user).
bool IsAllowedCoverPath(const std::string& image_url);

// The reader program of a book: book_reader ("\" turned into "/") below the
// install directory; empty when book_reader is absolute, has a ".."
// component or names no file.
std::string ReaderProgramPath(const std::string& install_dir, const std::string& book_reader);

// True when a lower-case text holds an absolute web address. Both schemes
// count: service addresses may use either.
bool HasWebScheme(const std::string& lower_text);
