// An owned byte buffer that frees itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CZipAutoBuffer {
 public:
  CZipAutoBuffer() = default;
  explicit CZipAutoBuffer(size_t size) { Allocate(size); }
  CZipAutoBuffer(const CZipAutoBuffer& other) { *this = other; }
  CZipAutoBuffer& operator=(const CZipAutoBuffer& other) {
    if (this != &other) {
      Allocate(other.size_);
      if (size_) std::copy(other.data_.get(), other.data_.get() + size_, data_.get());
    }
    return *this;
  }
  CZipAutoBuffer(CZipAutoBuffer&&) noexcept = default;
  CZipAutoBuffer& operator=(CZipAutoBuffer&&) noexcept = default;

  // Replaces the content with size zero bytes.
  void Allocate(size_t size) {
    data_.reset(size ? new uint8_t[size]() : nullptr);
    size_ = size;
  }
  void Release() {
    data_.reset();
    size_ = 0;
  }
  uint8_t* data() { return data_.get(); }
  const uint8_t* data() const { return data_.get(); }
  size_t size() const { return size_; }
  std::string Text() const {
    return size_ ? std::string(reinterpret_cast<const char*>(data_.get()), size_) : std::string();
  }

 private:
  std::unique_ptr<uint8_t[]> data_;
  size_t size_ = 0;
};
