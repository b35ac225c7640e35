#include "util/md5.h"

#include <openssl/evp.h>

#include <algorithm>

#include "platform/fault_points.h"
#include "platform/file_system.h"

namespace {

constexpr unsigned kDigestBytes = 16;

}  // namespace

void MD5Computer::MdFree::operator()(evp_md_st* md) const {
  EVP_MD_free(md);
}
void MD5Computer::CtxFree::operator()(evp_md_ctx_st* ctx) const {
  EVP_MD_CTX_free(ctx);
}

MD5Computer::MD5Computer() : MD5Computer("MD5") {}

MD5Computer::MD5Computer(const char* digest_name) {
  md_.reset(EVP_MD_fetch(nullptr, digest_name, nullptr));
  if (!md_ || EVP_MD_get_size(md_.get()) != static_cast<int>(kDigestBytes)) return;
  // The context is what marks the object usable.
  ctx_.reset(EVP_MD_CTX_new());
}

MD5Computer::~MD5Computer() = default;

void MD5Computer::SetChunkSize(size_t bytes) {
  chunk_size_ = std::max<size_t>(bytes, 1);
}

bool MD5Computer::Begin() {
  return ctx_ && EVP_DigestInit_ex2(ctx_.get(), md_.get(), nullptr) == 1;
}

bool MD5Computer::Update(const void* data, size_t count) {
  return ctx_ && EVP_DigestUpdate(ctx_.get(), data, count) == 1;
}

bool MD5Computer::Finish(std::string& digest_text) {
  if (!ctx_) return false;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(ctx_.get(), digest, &size) != 1 || size != kDigestBytes) return false;
  digest_text.resize(2 * kDigestBytes);
  HexEncodeLower(digest, kDigestBytes, digest_text.data());
  return true;
}

bool MD5Computer::FileMD5(std::string& digest_text, std::string_view path) {
  if (!IsUsable()) return false;
  // A directory opens for reading here, unlike on Windows; refuse it the same way.
  if (platform::IsDirectory(path)) return false;
  platform::File file(path, platform::OpenMode::kRead);
  if (!file.IsOpen()) return false;
  const int64_t size = file.Size();
  if (size < 0 || !Begin()) return false;

  if (buffer_size_ != chunk_size_) {
    buffer_ = std::make_unique_for_overwrite<uint8_t[]>(chunk_size_);
    buffer_size_ = chunk_size_;
  }
  // Only the bytes present at opening count; a file that shrinks meanwhile
  // cannot give the digest of any one version of it, so that fails.
  int64_t left = size;
  while (left > 0) {
    const size_t want =
        static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(buffer_size_)));
    const int64_t got = file.Read(buffer_.get(), want);
    if (got <= 0) return false;
    platform::FaultPoint("digest", path, static_cast<size_t>(got));
    if (EVP_DigestUpdate(ctx_.get(), buffer_.get(), static_cast<size_t>(got)) != 1) return false;
    left -= got;
  }
  file.Close();
  return Finish(digest_text);
}

bool MD5Computer::TextMD5(std::string& digest_text, std::string_view text) {
  if (!Begin()) return false;
  if (EVP_DigestUpdate(ctx_.get(), text.data(), text.size()) != 1) return false;
  return Finish(digest_text);
}

size_t HexEncodeLower(const void* bytes, size_t count, char* output) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const auto* in = static_cast<const uint8_t*>(bytes);
  for (size_t i = 0; i < count; ++i) {
    output[2 * i] = kDigits[in[i] >> 4];
    output[2 * i + 1] = kDigits[in[i] & 15];
  }
  return 2 * count;
}
