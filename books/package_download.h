// Bringing a book's package up to date: resumed transfer over the data
// servers, digest check, installation.
#pragma once

#include "books/book_record.h"
#include "net/request_helpers.h"

inline constexpr const char* kPackageDigestMismatchMessage = "数据包有错，请重试";
inline constexpr int kDownloadAttempts = 3;

// 0 once installed; kHttpCancelled when stopped; the transfer's code after
// three failed attempts; kBookRefused after a digest mismatch; otherwise
// InstallPackage's result. Runs on the book's worker thread; the caller
// saves the record afterwards.
int DownloadAndInstall(BookRecord& record);

// Keeps the record's byte counts in step with the transfer. Always 0.
int PackageDownloadProgress(DownloadProgress* progress);

// True when the file's MD5 equals digest, compared without case.
bool PackageMatchesDigest(const std::string& path, const std::string& digest);
