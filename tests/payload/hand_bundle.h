// Bundles written byte by byte for the tests, without the bundle tool, so that
// the reader is checked against the format itself and not against one
// builder's habits: records in any order, entries stored anywhere in the entry
// data, any filler before the header, stray magics, preset dictionaries.
#ifndef SATCHEL_TESTS_HAND_BUNDLE_H
#define SATCHEL_TESTS_HAND_BUNDLE_H

#include <stdint.h>

#include <string>
#include <vector>

namespace hand {

using Bytes = std::vector<unsigned char>;

Bytes ToBytes(const std::string &text);
void PutU32(Bytes &out, uint32_t value);
void Append(Bytes &out, const Bytes &more);

// One complete raw deflate stream (window bits 15) of `data`, compressed with
// `dictionary` as preset dictionary when it is not null.
Bytes RawDeflate(const Bytes &data, const Bytes *dictionary = nullptr, int level = 9);

// Raw inflate of a whole stream, for checking what the tests wrote.
Bytes RawInflate(const Bytes &compressed, const Bytes *dictionary = nullptr);

// A raw deflate stream made of a single stored block holding `data` (at most
// 65535 bytes): exactly data.size() + 5 compressed bytes.
Bytes StoredBlock(const Bytes &data);

// Table of contents records.
Bytes FileRecord(const std::string &name, uint32_t offset, uint32_t compressedSize,
                 uint32_t uncompressedSize);
Bytes PropertyRecord(const std::string &key, const std::string &value);

struct HeaderFields {
  uint32_t fileEntryCount = 0;
  uint32_t tocCompressedSize = 0;
  uint32_t tocUncompressedSize = 0;
  uint32_t entryDataSize = 0;
};

// The 36 header bytes; with goodCrc false the CRC field is off by one.
Bytes HeaderBytes(const HeaderFields &fields, bool goodCrc = true);

// A bundle under construction.  Build() lays it out as
//   stub, filler up to the next multiple of 512, header, compressed records,
//   entry data.
struct HandBundle {
  Bytes stub;                 // the bytes in front of the payload
  unsigned char filler = 0;   // pad byte up to the block boundary
  Bytes records;              // the uncompressed table of contents
  Bytes entryData;            // everything behind the table of contents
  uint32_t fileRecords = 0;   // file records added so far
  bool countOverride = false; // use fileEntryCount below instead of fileRecords
  uint32_t fileEntryCount = 0;
  bool entryDataSizeOverride = false;
  uint32_t entryDataSize = 0;

  // Appends raw bytes to the entry data; returns their offset.
  uint32_t AppendData(const Bytes &bytes);
  // Adds a file record.
  void AddFileRecord(const std::string &name, uint32_t offset, uint32_t compressedSize,
                     uint32_t uncompressedSize);
  // Compresses `content` (with `dictionary` if given), stores it at the end of
  // the entry data and adds its record.
  void AddFile(const std::string &name, const Bytes &content, const Bytes *dictionary = nullptr);
  void AddProperty(const std::string &key, const std::string &value);

  HeaderFields Fields(const Bytes &compressedToc) const;
  Bytes Build() const;
};

// Joins the stub, filler, header, table of contents and entry data by hand.
Bytes Assemble(const Bytes &stub, unsigned char filler, const Bytes &header, const Bytes &toc,
               const Bytes &entryData);

// Deterministic pseudo-random bytes: text-like when `compressible`, else noise.
Bytes PseudoRandom(size_t size, uint32_t seed, bool compressible);

// A temporary file holding `bytes`; removed by RemoveTempFiles().
std::string WriteTempFile(const Bytes &bytes);
void RemoveTempFiles();

}  // namespace hand

#endif  // SATCHEL_TESTS_HAND_BUNDLE_H
