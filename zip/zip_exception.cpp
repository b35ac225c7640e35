#include "zip/zip_exception.h"

#include "platform/file_system.h"

CFileException::CFileException(std::string file_name, int error_code)
    : file_name_(std::move(file_name)), error_code_(error_code) {}

std::string CFileException::GetDescription() const {
  std::string reason = platform::SystemErrorText(error_code_);
  if (reason.empty()) reason = "error " + std::to_string(error_code_);
  return file_name_ + "：" + reason;
}

CZipException::CZipException(int error_number, std::string file_name)
    : error_number_(error_number),
      cause_(CauseOf(error_number)),
      file_name_(std::move(file_name)) {}

int CZipException::CauseOf(int error_number) {
  if (error_number == 1) return 2;
  if (error_number == 2) return 3;
  if (error_number <= -1 && error_number >= -6) return 3 - error_number;
  if (error_number <= -101 && error_number >= -109) return -91 - error_number;
  return kZipCauseGeneric;
}

std::string CZipException::CauseText() const {
  switch (cause_) {
    case kZipCauseBadArchive:
      return "damaged or not a ZIP archive";
    case kZipCauseBadCrc:
      return "CRC-32 mismatch";
    case kZipCauseNoEndRecord:
      return "central directory not found";
    case 6:
      return "compressed data is damaged";
    case 8:
      return "compressed data ends early";
    default:
      return "ZIP error, cause " + std::to_string(cause_);
  }
}

void ThrowZipError(int error_number, const std::string& file_name) {
  throw CZipException(error_number, file_name);
}
