// Sealed files: Config.EF and the book record files.
//
// A sealed file is a 32-byte header followed by a body as long as the plain
// text. The body is scrambled with a running value whose seed, multiplier and
// increment are stored in the header; an optional key layer XORs a walk of
// bytes with the process key; the header is XORed with the pass phrase; book
// files carry an outer layer as well.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/config_key.h"

// Result codes of unsealing and reading.
inline constexpr int kSealOk = 0;
inline constexpr int kSealNoFile = 2;    // missing, unreadable or empty file
inline constexpr int kSealTooShort = 3;  // fewer than 32 bytes
inline constexpr int kSealNeedsKey = 5;  // key layer present, no key given
inline constexpr int kSealWriteFailed = 1010002;

// The outer byte of book record files.
inline constexpr uint8_t kRecordOuterByte = 0x32;
inline constexpr size_t kSealHeaderSize = 32;

// Fills the 32 pseudo-random bytes of a header. attempt counts the draws
// of one seal from 0: a draw is made again when the sealed file would begin
// with two blanks.
using SealHeaderDraw = std::function<void(unsigned attempt, uint8_t (&header)[kSealHeaderSize])>;

// The generator seeded with the current second; each further attempt goes
// on along the same sequence.
void DrawSealHeader(unsigned attempt, uint8_t (&header)[kSealHeaderSize]);

// True for the bytes ReadSealedFile hands back unchanged: two leading blanks.
bool ReadsAsPlainText(std::string_view file_bytes);

// The bytes of a sealed file as they are stored: sealed, then given the
// outer layer when outer != 0. They never read as plain text: a header that
// would make them begin with two blanks is drawn again.
std::string SealForStorage(std::string_view plain, KeyView key, uint32_t s0, uint32_t m,
                           uint32_t a, uint8_t outer,
                           const SealHeaderDraw& draw = DrawSealHeader);

// Seals plain bytes (SealForStorage without an outer layer); key.length == 0
// skips the key layer.
std::string SealBuffer(std::string_view plain, KeyView key, uint32_t s0, uint32_t m, uint32_t a);

// SealBuffer with the header's pseudo-random bytes and the tick count given
// instead of drawn; they decide the key walk's start (k) and step.
std::string SealBufferWith(std::string_view plain, KeyView key, uint32_t s0, uint32_t m, uint32_t a,
                           const uint8_t (&random_header)[32], uint32_t tick);

// Unseals; outer == 0 means no outer layer. On success plain holds the text.
[[nodiscard]] int UnsealBuffer(std::string_view sealed, KeyView key, uint8_t outer,
                               std::string& plain);

// Adds the outer layer to sealed bytes in place.
void ApplyOuterLayer(std::string& sealed, uint8_t outer);

// Reads and unseals a file with the process key. A file that begins with two
// blanks is plain text and is returned as it is.
[[nodiscard]] int ReadSealedFile(const std::string& path, uint8_t outer, std::string& text);

// Seals text in the book-file layout and replaces the file atomically
// (parent directories are created). 0 or kSealWriteFailed.
[[nodiscard]] int WriteSealedFile(const std::string& text, const std::string& path);
