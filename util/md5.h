// MD5 digests of files and texts, and plain hexadecimal encoding.
//
// A digest text is 32 lowercase hexadecimal digits. Callers that compare it
// with a published digest do so without regard to case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct evp_md_st;
struct evp_md_ctx_st;

// Digests through OpenSSL's EVP interface. An object whose MD5 set-up failed
// still exists, but every digest operation on it returns false; package
// verification treats that like a mismatch. One object serves one thread at
// a time.
class MD5Computer {
 public:
  // What package verification reads a file in.
  static constexpr size_t kDefaultChunkSize = 100000;

  MD5Computer();
  // Resolves the named digest instead of MD5, so tests can make an object
  // whose set-up fails: unknown names and digests of another size do.
  explicit MD5Computer(const char* digest_name);
  ~MD5Computer();
  MD5Computer(const MD5Computer&) = delete;
  MD5Computer& operator=(const MD5Computer&) = delete;

  bool IsUsable() const { return ctx_ != nullptr; }

  // Bytes read from the file at a time (at least 1); the read buffer follows
  // on the next FileMD5.
  void SetChunkSize(size_t bytes);
  size_t chunk_size() const { return chunk_size_; }

  // Digest of the file's whole content, its size taken when it is opened.
  // False when the object is unusable, the file cannot be opened for
  // reading, a read fails, or the file ends before that size.
  [[nodiscard]] bool FileMD5(std::string& digest_text, std::string_view path);
  // Digest of the text's bytes.
  [[nodiscard]] bool TextMD5(std::string& digest_text, std::string_view text);

  // A digest taken piece by piece, as the bytes arrive: Begin, any number
  // of Update, then Finish. False when the object is unusable or a step fails.
  [[nodiscard]] bool Begin();
  [[nodiscard]] bool Update(const void* data, size_t count);
  [[nodiscard]] bool Finish(std::string& digest_text);

 private:
  struct MdFree {
    void operator()(evp_md_st* md) const;
  };
  struct CtxFree {
    void operator()(evp_md_ctx_st* ctx) const;
  };

  std::unique_ptr<evp_md_st, MdFree> md_;
  std::unique_ptr<evp_md_ctx_st, CtxFree> ctx_;
  size_t chunk_size_ = kDefaultChunkSize;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t buffer_size_ = 0;
};

// Writes 2 * count lowercase hexadecimal digits, high nibble first, without
// a terminator, and returns 2 * count.
size_t HexEncodeLower(const void* bytes, size_t count, char* output);
