#include "demo/zip_builder.h"

#include <zlib.h>

#include <stdexcept>

namespace {

// 2024-03-01 08:00:00 in DOS form.
constexpr uint16_t kDosTime = (8 << 11);
constexpr uint16_t kDosDate = ((2024 - 1980) << 9) | (3 << 5) | 1;
constexpr uint16_t kMadeByUnix = (3 << 8) | 20;
constexpr uint16_t kNeeded = 20;

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xff);
  out += static_cast<char>((v >> 8) & 0xff);
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xffff);
  Put16(out, v >> 16);
}

std::string RawDeflate(const std::string& data) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(deflateBound(&stream, data.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return out;
}

}  // namespace

void ZipBuilder::AddDirectory(const std::string& name) {
  Entry entry;
  entry.name = name;
  entry.external = (040755u << 16) | 0x10;
  AddEntry(entry, {});
}

void ZipBuilder::AddFile(const std::string& name, const std::string& data, Method method,
                         uint32_t mode) {
  Entry entry;
  entry.name = name;
  entry.crc = static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  entry.size = static_cast<uint32_t>(data.size());
  entry.external = (0100000u | (mode & 07777)) << 16;
  if (method == Method::kDeflated) {
    entry.method = 8;
    AddEntry(entry, RawDeflate(data));
  } else {
    AddEntry(entry, data);
  }
}

void ZipBuilder::AddEntry(Entry entry, const std::string& stored_bytes) {
  entry.compressed_size = static_cast<uint32_t>(stored_bytes.size());
  entry.offset = static_cast<uint32_t>(out_.size());
  Put32(out_, 0x04034b50);
  Put16(out_, kNeeded);
  Put16(out_, 0);
  Put16(out_, entry.method);
  Put16(out_, kDosTime);
  Put16(out_, kDosDate);
  Put32(out_, entry.crc);
  Put32(out_, entry.compressed_size);
  Put32(out_, entry.size);
  Put16(out_, static_cast<uint32_t>(entry.name.size()));
  Put16(out_, 0);
  out_ += entry.name;
  out_ += stored_bytes;
  entries_.push_back(entry);
}

std::string ZipBuilder::Finish() {
  uint32_t directory_offset = static_cast<uint32_t>(out_.size());
  for (const Entry& e : entries_) {
    Put32(out_, 0x02014b50);
    Put16(out_, kMadeByUnix);
    Put16(out_, kNeeded);
    Put16(out_, 0);
    Put16(out_, e.method);
    Put16(out_, kDosTime);
    Put16(out_, kDosDate);
    Put32(out_, e.crc);
    Put32(out_, e.compressed_size);
    Put32(out_, e.size);
    Put16(out_, static_cast<uint32_t>(e.name.size()));
    Put16(out_, 0);
    Put16(out_, 0);
    Put16(out_, 0);
    Put16(out_, 0);
    Put32(out_, e.external);
    Put32(out_, e.offset);
    out_ += e.name;
  }
  uint32_t directory_size = static_cast<uint32_t>(out_.size()) - directory_offset;
  Put32(out_, 0x06054b50);
  Put16(out_, 0);
  Put16(out_, 0);
  Put16(out_, static_cast<uint32_t>(entries_.size()));
  Put16(out_, static_cast<uint32_t>(entries_.size()));
  Put32(out_, directory_size);
  Put32(out_, directory_offset);
  Put16(out_, 0);
  return std::move(out_);
}
