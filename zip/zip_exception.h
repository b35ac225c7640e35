// The errors the ZIP reader raises. Exceptions stay inside the reader and
// the extraction that drives it; ExtractArchive turns them into result codes.
#pragma once

#include <exception>
#include <string>

// Base of the errors raised by the file layer and the reader, with a text
// for people (code page 936; may be empty).
class CPlatformException : public std::exception {
 public:
  virtual std::string GetDescription() const = 0;
  const char* what() const noexcept override { return "tomerack platform exception"; }
};

// A file could not be opened, read or positioned. The description names
// the file and the system's reason.
class CFileException : public CPlatformException {
 public:
  CFileException(std::string file_name, int error_code);
  std::string GetDescription() const override;
  const std::string& file_name() const { return file_name_; }
  int error_code() const { return error_code_; }

 private:
  std::string file_name_;
  int error_code_;
};

// Internal error numbers of the reader: the zlib return codes, and these.
inline constexpr int kZipBadArchive = -101;   // damaged, or not a ZIP archive
inline constexpr int kZipBadCrc = -102;       // CRC-32 of an entry differs
inline constexpr int kZipNoVolume = -103;     // a volume of a spanned set is missing
inline constexpr int kZipBadPassword = -108;  // never raised: no passwords are used
inline constexpr int kZipNoEndRecord = -109;  // central directory not found

// Causes as the exception reports them.
inline constexpr int kZipCauseGeneric = 1;
inline constexpr int kZipCauseBadArchive = 10;
inline constexpr int kZipCauseBadCrc = 11;
inline constexpr int kZipCauseNoEndRecord = 18;

class CZipException : public CPlatformException {
 public:
  CZipException(int error_number, std::string file_name);
  // The cause number for an internal error number.
  static int CauseOf(int error_number);
  // Deliberately empty: the reader has never had texts for its causes.
  std::string GetDescription() const override { return {}; }
  int cause() const { return cause_; }
  int error_number() const { return error_number_; }
  const std::string& file_name() const { return file_name_; }
  // A short English text for logs and the admin tool.
  std::string CauseText() const;

 private:
  int error_number_;
  int cause_;
  std::string file_name_;
};

[[noreturn]] void ThrowZipError(int error_number, const std::string& file_name);
