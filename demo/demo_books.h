// The books the demo service plays with, generated at start: titles in
// Chinese, ZIP packages (nested folders, a directory entry, stored and
// deflated entries, a reader program with its executable bit set), MD5
// digests (some in upper-case hexadecimal) and PNG cover images.
#pragma once

#include <string>
#include <vector>

struct DemoBook {
  std::string bsid;
  std::string gid;
  std::string title_utf8;
  std::string base_image;  // path under the data root, "images/<gid>.png"
  std::string book_path;   // path under the data root, "books/<gid>/<gid>.zip"
  std::string reader;      // reader program tag
  std::string package;     // the ZIP bytes
  std::string digest;      // MD5 of the package as published
  std::string cover_png;
  int edition = 1;
  // What the package is generated from.
  size_t media_size = 0;
  uint32_t seed = 0;
  bool upper_digest = false;
};

// Generates the book's package of that edition and its digest.
void PublishEdition(DemoBook& book, int edition);

// The fixed demo set: the shared books g1001..g1003, a student's g1004..g1007
// and a teacher's g2001..g2003. Packages differ in size so that range
// requests cross several transfer blocks; the later ones are small.
std::vector<DemoBook> MakeDemoBooks();

inline constexpr int kCoverWidth = 120;
inline constexpr int kCoverHeight = 160;

// A solid-colour PNG image of the given size.
std::string MakeSolidPng(int width, int height, unsigned rgb);

// A PNG book cover in colour rgb: a darker spine strip down the left edge and
// a lighter band across the upper third, so that covers side by side look
// like books on a shelf.
std::string MakeCoverPng(int width, int height, unsigned rgb);

// The upgrade program: a shell script that, run with "/upgrade" in a program
// directory, records version as installed in system/version.dat.
std::string MakeUpgradeProgram(const std::string& version);
