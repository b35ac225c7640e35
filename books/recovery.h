// Starting the collection for a user: converting an older client's files,
// loading the book files, and finishing every operation that a closed or
// killed program left half done.
#pragma once

#include <functional>
#include <string>

#include "books/book_collection.h"

inline constexpr const char* kRecoveryTip = "课本在下载或安装过程中被中断，正在检查，请稍候...";

// Converts legacy files once, loads records, package lists and the cached
// catalogue, starts the recovery of interrupted books and the sync thread,
// and requests a synchronisation. 0.
int StartForUser(BookCollection& collection, OwnerPoster owner, const std::string& uid);

// Turns the older client's book list of uid into record and package-list
// files (existing ones are kept). 0 when there is none or every book was
// converted; kBookRefused when conversion stopped at a book it could not
// read; kBookReadFailed when the file cannot be read.
int MigrateLegacyBookList(BookCollection& collection, const std::string& uid);

// Finishes an interrupted operation on the record's own worker thread:
// resumes the transfer right there (as DownloadWorker, after calling
// transfer_resumes), or checks a complete package and installs it. 0,
// kBookRefused after a digest mismatch, or InstallPackage's result.
int ResumeAfterLoad(BookRecord& record, const std::function<void()>& transfer_resumes = {});

// Shows the recovery tip and runs ResumeAfterLoad as the record's worker,
// which the record owns like a download; the tip is hidden when the
// transfer resumes or the work has ended.
void StartRecoveryWorker(BookCollection& collection, const RecordPtr& record);
