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

// The fixed demo set (three books). Packages differ in size so that range
// requests cross several transfer blocks.
std::vector<DemoBook> MakeDemoBooks();

// A solid-colour PNG image of the given size.
std::string MakeSolidPng(int width, int height, unsigned rgb);

// The upgrade program: a shell script that, run with "/upgrade" in a program
// directory, records version as installed in system/version.dat.
std::string MakeUpgradeProgram(const std::string& version);
