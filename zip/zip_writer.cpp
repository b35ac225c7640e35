#include "zip/zip_writer.h"

#include <sys/stat.h>
#include <zlib.h>

#include <sstream>
#include <stdexcept>

#include "zip/zip_file_header.h"

namespace {

void Le16(std::string& s, uint32_t v) {
  s.push_back(static_cast<char>(v & 0xff));
  s.push_back(static_cast<char>((v >> 8) & 0xff));
}
void Le32(std::string& s, uint32_t v) {
  Le16(s, v & 0xffff);
  Le16(s, v >> 16);
}

}  // namespace

std::string DeflateRaw(const std::string& data, int level) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return out;
}

ZipWriter::ZipWriter(std::ostream& out, int deflate_level) : out_(out), level_(deflate_level) {}

void ZipWriter::Put(const std::string& bytes) {
  out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  position_ += bytes.size();
}

void ZipWriter::WritePrefix(const std::string& bytes) {
  out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  prefix_ += bytes.size();
}

void ZipWriter::Add(const ZipEntrySpec& entry) {
  Central c;
  c.spec = entry;
  c.spec.data.clear();
  bool deflate = entry.method == ZipEntrySpec::Method::kDeflated && !entry.directory;
  std::string body = deflate ? DeflateRaw(entry.data, level_) : entry.data;
  c.method = deflate ? kMethodDeflated : kMethodStored;
  c.flags = 0;
  if (entry.utf8_name) c.flags |= kFlagUtf8Name;
  if (entry.encrypted) c.flags |= kFlagEncrypted;
  if (entry.descriptor != ZipEntrySpec::Descriptor::kNone) c.flags |= kFlagDataDescriptor;
  c.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()),
                                      static_cast<uInt>(entry.data.size())));
  c.compressed = static_cast<uint32_t>(body.size());
  c.uncompressed = static_cast<uint32_t>(entry.data.size());
  c.offset = static_cast<uint32_t>(position_);
  c.external =
      (entry.directory ? kAttributeDirectory : 0) | (entry.read_only ? kAttributeReadOnly : 0);
  c.made_by = 20;
  if (entry.unix_mode) {
    unsigned type = entry.directory ? S_IFDIR : S_IFREG;
    c.external |= (type | (*entry.unix_mode & 07777)) << 16;
    c.made_by = (kHostUnix << 8) | 30;
  }

  bool descriptor = entry.descriptor != ZipEntrySpec::Descriptor::kNone;
  std::string h;
  Le32(h, kLocalHeaderSignature);
  Le16(h, 20);
  Le16(h, c.flags);
  Le16(h, c.method);
  Le16(h, entry.modified.time);
  Le16(h, entry.modified.date);
  Le32(h, descriptor ? 0 : c.crc);
  Le32(h, descriptor ? 0 : c.compressed);
  Le32(h, descriptor ? 0 : c.uncompressed);
  Le16(h, static_cast<uint32_t>(entry.name.size()));
  Le16(h, 0);
  h += entry.name;
  Placement p;
  p.local_header_offset = prefix_ + position_;
  p.data_offset = p.local_header_offset + h.size();
  p.compressed_size = c.compressed;
  p.crc = c.crc;
  Put(h);
  Put(body);
  if (descriptor) {
    std::string d;
    if (entry.descriptor == ZipEntrySpec::Descriptor::kWithSignature)
      Le32(d, kDataDescriptorSignature);
    Le32(d, c.crc);
    Le32(d, c.compressed);
    Le32(d, c.uncompressed);
    Put(d);
  }
  placements_.push_back(p);
  central_.push_back(std::move(c));
}

void ZipWriter::Finish(const std::string& comment) {
  uint64_t directory_offset = position_;
  for (const Central& c : central_) {
    std::string h;
    Le32(h, kCentralHeaderSignature);
    Le16(h, c.made_by);
    Le16(h, 20);
    Le16(h, c.flags);
    Le16(h, c.method);
    Le16(h, c.spec.modified.time);
    Le16(h, c.spec.modified.date);
    Le32(h, c.crc);
    Le32(h, c.compressed);
    Le32(h, c.uncompressed);
    Le16(h, static_cast<uint32_t>(c.spec.name.size()));
    Le16(h, 0);
    Le16(h, static_cast<uint32_t>(c.spec.comment.size()));
    Le16(h, 0);
    Le16(h, 0);
    Le32(h, c.external);
    Le32(h, c.offset);
    h += c.spec.name;
    h += c.spec.comment;
    Put(h);
  }
  std::string e;
  Le32(e, kEndRecordSignature);
  Le16(e, 0);
  Le16(e, 0);
  Le16(e, static_cast<uint32_t>(central_.size()));
  Le16(e, static_cast<uint32_t>(central_.size()));
  Le32(e, static_cast<uint32_t>(position_ - directory_offset));
  Le32(e, static_cast<uint32_t>(directory_offset));
  Le16(e, static_cast<uint32_t>(comment.size()));
  e += comment;
  Put(e);
  out_.flush();
}

std::string MakeZip(const std::vector<ZipEntrySpec>& entries, const std::string& comment,
                    const std::string& prefix) {
  std::ostringstream out;
  ZipWriter writer(out);
  if (!prefix.empty()) writer.WritePrefix(prefix);
  for (const auto& e : entries) writer.Add(e);
  writer.Finish(comment);
  return out.str();
}
