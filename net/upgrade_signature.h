// Signatures that tie an upgrade program to the version text published with
// it, so that the client starts only what the publisher signed.
//
// The signed message is, byte for byte:
//   the context "TomeRack upgrade v1" and a zero byte (20 bytes),
//   the length of the version text, 4 bytes big-endian,
//   the version text (as published, blanks at its ends removed),
//   the SHA-256 digest of the upgrade program's bytes (32 bytes).
// It is signed with Ed25519 as it is (no digest of its own); the signature
// file holds the 64 signature bytes and nothing else. Every part has a fixed
// size or a length before it, so no two (version, program) pairs give the
// same message, and the context keeps the key from vouching for anything else.
//
// The public key is given as text: Base64 of its 32 raw bytes (44 characters,
// ending in "="). The private key is a PKCS#8 PEM text, the form
// `openssl genpkey -algorithm ed25519` writes.
#pragma once

#include <string>
#include <string_view>

inline constexpr size_t kUpgradeSignatureBytes = 64;
inline constexpr size_t kSha256Bytes = 32;

enum class UpgradeSignatureCheck {
  kValid,
  kBadPublicKey,      // not Base64 of 32 bytes, or not a usable key
  kBadSignatureSize,  // the signature is not 64 bytes
  kMismatch,          // made with another key, or over other bytes
};

// Words for the daily log.
const char* DescribeUpgradeSignatureCheck(UpgradeSignatureCheck check);

// The 32 raw bytes of a public key text; false for anything else.
[[nodiscard]] bool DecodeUpgradePublicKey(std::string_view text, std::string& raw);

// SHA-256 of bytes, and of a file's whole content (false when it cannot be
// read).
std::string Sha256OfBytes(std::string_view bytes);
[[nodiscard]] bool Sha256OfFile(std::string_view path, std::string& digest);

std::string UpgradeSignedMessage(std::string_view version, std::string_view program_sha256);

[[nodiscard]] UpgradeSignatureCheck VerifyUpgradeSignature(std::string_view public_key_text,
                                                           std::string_view version,
                                                           std::string_view program_sha256,
                                                           std::string_view signature);

// Publisher side: a new key pair, the public key text of a private key, and
// the signature of one program with its version text. False on any failure
// (a text that is no Ed25519 private key included).
[[nodiscard]] bool GenerateUpgradeKey(std::string& private_key_pem, std::string& public_key_text);
[[nodiscard]] bool UpgradePublicKeyOf(std::string_view private_key_pem,
                                      std::string& public_key_text);
[[nodiscard]] bool SignUpgrade(std::string_view private_key_pem, std::string_view version,
                               std::string_view program_sha256, std::string& signature);
