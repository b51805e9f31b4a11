#include "hand_bundle.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <zlib.h>

#include <stdexcept>

namespace hand {

namespace {
std::vector<std::string> tempFiles;
}

Bytes ToBytes(const std::string &text) { return Bytes(text.begin(), text.end()); }

void PutU32(Bytes &out, uint32_t value) {
  for (int i = 0; i < 4; i++) out.push_back((unsigned char)(value >> (8 * i)));
}

void Append(Bytes &out, const Bytes &more) { out.insert(out.end(), more.begin(), more.end()); }

Bytes RawDeflate(const Bytes &data, const Bytes *dictionary, int level) {
  z_stream z;
  memset(&z, 0, sizeof z);
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2");
  if (dictionary &&
      deflateSetDictionary(&z, dictionary->data(), (uInt)dictionary->size()) != Z_OK)
    throw std::runtime_error("deflateSetDictionary");
  Bytes out(deflateBound(&z, data.size()) + 16);
  z.next_in = (Bytef *)data.data();
  z.avail_in = (uInt)data.size();
  z.next_out = out.data();
  z.avail_out = (uInt)out.size();
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

Bytes RawInflate(const Bytes &compressed, const Bytes *dictionary) {
  z_stream z;
  memset(&z, 0, sizeof z);
  if (inflateInit2(&z, -15) != Z_OK) throw std::runtime_error("inflateInit2");
  if (dictionary && inflateSetDictionary(&z, dictionary->data(), (uInt)dictionary->size()) != Z_OK)
    throw std::runtime_error("inflateSetDictionary");
  Bytes out;
  unsigned char chunk[4096];
  z.next_in = (Bytef *)compressed.data();
  z.avail_in = (uInt)compressed.size();
  int result;
  do {
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    result = inflate(&z, Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END) throw std::runtime_error("inflate");
    out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
  } while (result != Z_STREAM_END);
  inflateEnd(&z);
  return out;
}

Bytes StoredBlock(const Bytes &data) {
  if (data.size() > 65535) throw std::runtime_error("stored block too long");
  Bytes out;
  uint16_t length = (uint16_t)data.size();
  out.push_back(0x01);  // BFINAL, BTYPE 00
  out.push_back((unsigned char)length);
  out.push_back((unsigned char)(length >> 8));
  out.push_back((unsigned char)~length);
  out.push_back((unsigned char)(~length >> 8));
  Append(out, data);
  return out;
}

Bytes FileRecord(const std::string &name, uint32_t offset, uint32_t compressedSize,
                 uint32_t uncompressedSize) {
  Bytes out;
  out.push_back(1);
  Append(out, ToBytes(name));
  out.push_back(0);
  PutU32(out, offset);
  PutU32(out, compressedSize);
  PutU32(out, uncompressedSize);
  return out;
}

Bytes PropertyRecord(const std::string &key, const std::string &value) {
  Bytes out;
  out.push_back(2);
  Append(out, ToBytes(key));
  out.push_back(0);
  Append(out, ToBytes(value));
  out.push_back(0);
  return out;
}

Bytes HeaderBytes(const HeaderFields &fields, bool goodCrc) {
  Bytes out = ToBytes("_kestrel_Header_");
  PutU32(out, fields.fileEntryCount);
  PutU32(out, fields.tocCompressedSize);
  PutU32(out, fields.tocUncompressedSize);
  PutU32(out, fields.entryDataSize);
  uint32_t crc = (uint32_t)crc32(0, out.data(), 32);
  PutU32(out, goodCrc ? crc : crc + 1);
  return out;
}

uint32_t HandBundle::AppendData(const Bytes &bytes) {
  uint32_t offset = (uint32_t)entryData.size();
  Append(entryData, bytes);
  return offset;
}

void HandBundle::AddFileRecord(const std::string &name, uint32_t offset, uint32_t compressedSize,
                               uint32_t uncompressedSize) {
  Append(records, FileRecord(name, offset, compressedSize, uncompressedSize));
  fileRecords++;
}

void HandBundle::AddFile(const std::string &name, const Bytes &content, const Bytes *dictionary) {
  Bytes compressed = RawDeflate(content, dictionary);
  uint32_t offset = AppendData(compressed);
  AddFileRecord(name, offset, (uint32_t)compressed.size(), (uint32_t)content.size());
}

void HandBundle::AddProperty(const std::string &key, const std::string &value) {
  Append(records, PropertyRecord(key, value));
}

HeaderFields HandBundle::Fields(const Bytes &compressedToc) const {
  HeaderFields fields;
  fields.fileEntryCount = countOverride ? fileEntryCount : fileRecords;
  fields.tocCompressedSize = (uint32_t)compressedToc.size();
  fields.tocUncompressedSize = (uint32_t)records.size();
  fields.entryDataSize = entryDataSizeOverride ? entryDataSize : (uint32_t)entryData.size();
  return fields;
}

Bytes HandBundle::Build() const {
  Bytes toc = RawDeflate(records);
  return Assemble(stub, filler, HeaderBytes(Fields(toc)), toc, entryData);
}

Bytes Assemble(const Bytes &stub, unsigned char filler, const Bytes &header, const Bytes &toc,
               const Bytes &entryData) {
  Bytes out = stub;
  while (out.size() % 512) out.push_back(filler);
  Append(out, header);
  Append(out, toc);
  Append(out, entryData);
  return out;
}

Bytes PseudoRandom(size_t size, uint32_t seed, bool compressible) {
  static const char *const words[] = {"alpha ", "beta ", "gamma ", "delta\n", "kestrel ",
                                      "0123 ",  "zz ",   "payload ", "\t", "entry "};
  Bytes out;
  out.reserve(size);
  uint32_t x = seed * 2654435761u + 12345;
  while (out.size() < size) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    if (compressible) {
      const char *word = words[x % 10];
      for (const char *c = word; *c && out.size() < size; c++) out.push_back((unsigned char)*c);
    } else {
      out.push_back((unsigned char)(x >> 24));
    }
  }
  return out;
}

std::string WriteTempFile(const Bytes &bytes) {
  const char *dir = getenv("TMPDIR");
  std::string path = std::string(dir && *dir ? dir : "/tmp") + "/satchel-payload-XXXXXX";
  std::vector<char> name(path.begin(), path.end());
  name.push_back(0);
  int fd = mkstemp(name.data());
  if (fd < 0) throw std::runtime_error("mkstemp");
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) throw std::runtime_error("write");
    done += (size_t)n;
  }
  close(fd);
  tempFiles.push_back(name.data());
  return name.data();
}

void RemoveTempFiles() {
  for (const std::string &path : tempFiles) unlink(path.c_str());
  tempFiles.clear();
}

}  // namespace hand
