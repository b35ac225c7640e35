// The state of the entry being extracted: the inflater, the read buffer and
// the counts that tell when the entry is complete.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "zip/zip_auto_buffer.h"

class CZipInternalInfo {
 public:
  static constexpr size_t kReadBufferSize = 64 * 1024;

  CZipInternalInfo() = default;
  ~CZipInternalInfo() { EndInflate(); }
  CZipInternalInfo(const CZipInternalInfo&) = delete;
  CZipInternalInfo& operator=(const CZipInternalInfo&) = delete;

  // Starts raw inflation; the zlib result.
  int BeginInflate() {
    stream = z_stream{};
    int rc = inflateInit2(&stream, -MAX_WBITS);
    inflating_ = rc == Z_OK;
    return rc;
  }
  void EndInflate() {
    if (inflating_) inflateEnd(&stream);
    inflating_ = false;
  }
  // Allocated once, kept for later entries.
  void AllocateBuffer() {
    if (buffer.size() != kReadBufferSize) buffer.Allocate(kReadBufferSize);
  }
  void ReleaseBuffer() { buffer.Release(); }

  z_stream stream{};
  CZipAutoBuffer buffer;
  // Bytes of the buffer not yet consumed (stored entries), starting at
  // buffer_position.
  size_t buffer_available = 0;
  size_t buffer_position = 0;
  uint64_t compressed_left = 0;
  uint64_t uncompressed_left = 0;
  uint32_t crc = 0;
  bool stream_ended = false;

 private:
  bool inflating_ = false;
};
