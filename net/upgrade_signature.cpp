#include "net/upgrade_signature.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/file_system.h"
#include "util/base64.h"

namespace {

// The trailing zero byte belongs to the context.
constexpr char kContext[] = "TomeRack upgrade v1";
constexpr size_t kContextBytes = sizeof kContext;
constexpr size_t kPublicKeyBytes = 32;

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
using BioPtr = std::unique_ptr<BIO, BioFree>;

KeyPtr ReadPrivateKey(std::string_view pem) {
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return nullptr;
  KeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) return nullptr;
  return key;
}

bool PublicKeyText(EVP_PKEY* key, std::string& text) {
  uint8_t raw[kPublicKeyBytes];
  size_t size = sizeof raw;
  if (EVP_PKEY_get_raw_public_key(key, raw, &size) != 1 || size != sizeof raw) return false;
  CBase64Coding coder;
  return coder.EncodeRawToText(raw, size, text);
}

}  // namespace

const char* DescribeUpgradeSignatureCheck(UpgradeSignatureCheck check) {
  switch (check) {
    case UpgradeSignatureCheck::kValid:
      return "signature valid";
    case UpgradeSignatureCheck::kBadPublicKey:
      return "UpgradePublicKey is not Base64 of a 32-byte Ed25519 key";
    case UpgradeSignatureCheck::kBadSignatureSize:
      return "signature is not 64 bytes";
    case UpgradeSignatureCheck::kMismatch:
      return "signature does not match the program, its version or the key";
  }
  return "signature check failed";
}

bool DecodeUpgradePublicKey(std::string_view text, std::string& raw) {
  std::vector<uint8_t> bytes;
  CBase64Coding coder;
  // The decoder stops at the first "=": anything after it must be blank.
  size_t end = text.find('=');
  if (end != std::string_view::npos &&
      text.find_first_not_of("= \t\r\n", end) != std::string_view::npos) {
    return false;
  }
  if (!coder.DecodeText(std::string(text), bytes) || bytes.size() != kPublicKeyBytes) {
    return false;
  }
  raw.assign(bytes.begin(), bytes.end());
  return true;
}

std::string Sha256OfBytes(std::string_view bytes) {
  uint8_t digest[kSha256Bytes];
  unsigned size = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1) {
    return {};
  }
  return std::string(reinterpret_cast<const char*>(digest), size);
}

bool Sha256OfFile(std::string_view path, std::string& digest) {
  platform::File file(path, platform::OpenMode::kRead);
  MdCtxPtr ctx(EVP_MD_CTX_new());
  if (!file.IsOpen() || !ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
    return false;
  }
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    int64_t got = file.Read(buffer.data(), buffer.size());
    if (got < 0) return false;
    if (got == 0) break;
    if (EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<size_t>(got)) != 1) return false;
  }
  uint8_t out[kSha256Bytes];
  unsigned size = 0;
  if (EVP_DigestFinal_ex(ctx.get(), out, &size) != 1 || size != kSha256Bytes) return false;
  digest.assign(reinterpret_cast<const char*>(out), size);
  return true;
}

std::string UpgradeSignedMessage(std::string_view version, std::string_view program_sha256) {
  std::string message(kContext, kContextBytes);
  const auto length = static_cast<uint32_t>(version.size());
  for (int shift = 24; shift >= 0; shift -= 8) {
    message.push_back(static_cast<char>((length >> shift) & 0xff));
  }
  message.append(version);
  message.append(program_sha256);
  return message;
}

UpgradeSignatureCheck VerifyUpgradeSignature(std::string_view public_key_text,
                                             std::string_view version,
                                             std::string_view program_sha256,
                                             std::string_view signature) {
  std::string raw;
  if (!DecodeUpgradePublicKey(public_key_text, raw)) return UpgradeSignatureCheck::kBadPublicKey;
  KeyPtr key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                         reinterpret_cast<const uint8_t*>(raw.data()), raw.size()));
  if (!key) return UpgradeSignatureCheck::kBadPublicKey;
  if (signature.size() != kUpgradeSignatureBytes) return UpgradeSignatureCheck::kBadSignatureSize;
  // A digest of the wrong size can only come from a failed hash: never valid.
  if (program_sha256.size() != kSha256Bytes) return UpgradeSignatureCheck::kMismatch;
  const std::string message = UpgradeSignedMessage(version, program_sha256);
  MdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
    return UpgradeSignatureCheck::kMismatch;
  }
  const int verified = EVP_DigestVerify(
      ctx.get(), reinterpret_cast<const uint8_t*>(signature.data()), signature.size(),
      reinterpret_cast<const uint8_t*>(message.data()), message.size());
  return verified == 1 ? UpgradeSignatureCheck::kValid : UpgradeSignatureCheck::kMismatch;
}

bool GenerateUpgradeKey(std::string& private_key_pem, std::string& public_key_text) {
  KeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!key || !bio ||
      PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    return false;
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  if (size <= 0 || data == nullptr) return false;
  if (!PublicKeyText(key.get(), public_key_text)) return false;
  private_key_pem.assign(data, static_cast<size_t>(size));
  return true;
}

bool UpgradePublicKeyOf(std::string_view private_key_pem, std::string& public_key_text) {
  KeyPtr key = ReadPrivateKey(private_key_pem);
  return key && PublicKeyText(key.get(), public_key_text);
}

bool SignUpgrade(std::string_view private_key_pem, std::string_view version,
                 std::string_view program_sha256, std::string& signature) {
  KeyPtr key = ReadPrivateKey(private_key_pem);
  MdCtxPtr ctx(EVP_MD_CTX_new());
  if (!key || !ctx || program_sha256.size() != kSha256Bytes ||
      EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
    return false;
  }
  const std::string message = UpgradeSignedMessage(version, program_sha256);
  uint8_t out[kUpgradeSignatureBytes];
  size_t size = sizeof out;
  if (EVP_DigestSign(ctx.get(), out, &size, reinterpret_cast<const uint8_t*>(message.data()),
                     message.size()) != 1 ||
      size != kUpgradeSignatureBytes) {
    return false;
  }
  signature.assign(reinterpret_cast<const char*>(out), size);
  return true;
}
