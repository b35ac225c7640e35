// The packages published for one book: identifiers and their digests, the
// newest pair last. Kept per book as a sealed text file of lines
// "<identifier> <digest>" joined by CR LF.
#pragma once

#include <string>
#include <vector>

struct PackageList {
  std::string gid;
  std::vector<std::string> package_ids;
  std::vector<std::string> digests;

  bool empty() const { return package_ids.empty(); }
};

// Replaces both lists with the pairs of text and sets the gid. A line is
// taken without its leading white space and with tabs read as blanks; it is
// cut at its first blank, and kept only when the part after it, without
// surrounding white space, is exactly 32 characters.
void ParsePackageList(PackageList& list, const std::string& text, const std::string& gid);

// The file's plain text: one line per pair, CR LF between lines, none after
// the last; an empty list gives an empty text.
std::string PackageListText(const PackageList& list);

// Writes the sealed text to PackageListPath(gid); 0 or the write's code.
int WritePackageList(const PackageList& list);
