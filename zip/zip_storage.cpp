#include "zip/zip_storage.h"

#include "zip/zip_exception.h"

void CZipStorage::ReadExact(void* buffer, size_t count) {
  if (file_.ReadSome(buffer, count) != count) ThrowZipError(kZipBadArchive, path());
}
