// Writes bundles: stub, filler, header, table of contents, entries.
//
// Everything is built in memory first (the compressed entries, the table of
// contents, the header), checked against what a reader can use, and only then
// written, through a temporary file that is renamed over the output name once
// it is complete.  zlib's deflate is deterministic for the same input, level,
// window and memLevel, so the same inputs give the same bytes.
#include "bundle_writer.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "file_names.h"
#include "payload.h"
#include "shown_text.h"
#include "tool_files.h"
#include "tool_messages.h"

namespace {

const uint64_t kBundleLimit = PAYLOAD_SIZE_LIMIT;
const uint64_t kEntryLimit = PAYLOAD_ENTRY_SIZE_LIMIT;
const size_t kWindowSize = PAYLOAD_DICTIONARY_WINDOW;

void PutU32(std::vector<unsigned char> *out, uint32_t value) {
  unsigned char bytes[4];
  WriteU32LE(bytes, value);
  out->insert(out->end(), bytes, bytes + 4);
}

// A name, key or value as the messages show it: escaped, between quotes.
std::string Quoted(const std::string &text) { return "\"" + Shown(text) + "\""; }


int64_t StubSize(FILE *file) {
  int64_t size = FileSize(file);
  if (size < 0 || !SeekFile(file, 0)) return -1;
  return size;
}

// Passes the stub's bytes, from its start, to `sink` in pieces that begin at
// 512-byte boundaries, checking on the way that no block start holds a header
// with the magic and a matching CRC: a reader would take that one and never
// see the new payload.  Returns 0 when done, 1 on such a header, -1 when
// reading fails, -2 when the sink failed.
int PassStub(FILE *stub, int64_t size, bool (*sink)(const unsigned char *, size_t, void *),
             void *context) {
  static unsigned char buffer[64 * PAYLOAD_BLOCK_SIZE];
  int64_t done = 0;
  if (fseek(stub, 0, SEEK_SET) != 0) return -1;
  while (done < size) {
    size_t want = size - done < (int64_t)sizeof buffer ? (size_t)(size - done) : sizeof buffer;
    if (fread(buffer, 1, want, stub) != want) return -1;
    for (size_t at = 0; at + PAYLOAD_HEADER_SIZE <= want; at += PAYLOAD_BLOCK_SIZE) {
      const unsigned char *block = buffer + at;
      if (memcmp(block, PAYLOAD_MAGIC, PAYLOAD_MAGIC_SIZE) == 0 &&
          crc32(0, block, 32) == ReadU32LE(block + 32))
        return 1;
    }
    if (sink && !sink(buffer, want, context)) return -2;
    done += (int64_t)want;
  }
  return 0;
}

// The checksum property's value: every file's CRC-32 in table order.
std::string EntryChecksums(const BundleContents &contents) {
  std::string text;
  for (const BundleFile &file : contents.files) {
    uLong crc = crc32(0, nullptr, 0);
    const unsigned char *at = file.content.data();
    for (uint64_t left = file.content.size(); left > 0;) {
      uInt take = left > (1u << 30) ? (1u << 30) : (uInt)left;
      crc = crc32(crc, at, take);
      at += take;
      left -= take;
    }
    char digits[16];
    snprintf(digits, sizeof digits, "%s%08lx", &file == &contents.files[0] ? "" : " ",
             (unsigned long)crc);
    text += digits;
  }
  return text;
}

const BundleFile *FirstFileNamed(const BundleContents &contents, const char *name) {
  for (const BundleFile &file : contents.files)
    if (file.name == name) return &file;
  return nullptr;
}

bool CheckContents(const std::string &outPath, const BundleContents &contents,
                   std::string *error) {
  for (const BundleFile &file : contents.files) {
    if (file.name.find('\0') != std::string::npos) {
      *error = MessageText(TOOL_MSG_ENTRY_NAME_NUL, outPath.c_str(), Quoted(file.name).c_str());
      return false;
    }
    if (file.content.size() >= kEntryLimit) {
      *error = MessageText(TOOL_MSG_ENTRY_TOO_LARGE, outPath.c_str(), Quoted(file.name).c_str());
      return false;
    }
  }
  const std::string *msi = nullptr, *exe = nullptr;
  for (const BundleProperty &property : contents.properties) {
    if (property.key.find('\0') != std::string::npos) {
      *error = MessageText(TOOL_MSG_KEY_NUL, outPath.c_str(), Quoted(property.key).c_str());
      return false;
    }
    if (property.key.size() >= PAYLOAD_KEY_FIELD_SIZE) {
      *error = MessageText(TOOL_MSG_KEY_TOO_LONG, outPath.c_str(), Quoted(property.key).c_str(),
                           property.key.size(), PAYLOAD_KEY_FIELD_SIZE - 1);
      return false;
    }
    if (property.value.find('\0') != std::string::npos) {
      *error = MessageText(TOOL_MSG_VALUE_NUL, outPath.c_str(), Quoted(property.key).c_str());
      return false;
    }
    if (property.key == PAYLOAD_CHECKSUM_KEY) {
      *error = MessageText(TOOL_MSG_KEY_RESERVED, outPath.c_str(), Quoted(property.key).c_str());
      return false;
    }
    if (property.key == "msi" || property.key == "exe") {
      std::string reason;
      if (!IsPlainWindowsFileName(property.value, &reason)) {
        *error = MessageText(TOOL_MSG_BUNDLE_PROPERTY_NOT_PLAIN, outPath.c_str(),
                             Shown(property.key).c_str(), Shown(property.value).c_str(),
                             reason.c_str());
        return false;
      }
      (property.key == "msi" ? msi : exe) = &property.value;
    }
  }
  // The launcher reads the last value of each key; any earlier one is dead.
  if (msi && exe && SameFileNameIgnoringCase(*msi, *exe)) {
    *error = MessageText(TOOL_MSG_BUNDLE_MSI_EXE_SAME_NAME, outPath.c_str(), Shown(*msi).c_str(),
                         Shown(*exe).c_str());
    return false;
  }
  return true;
}

}  // namespace

bool DeflateRaw(const unsigned char *data, uint64_t size, const unsigned char *dictionary,
                size_t dictionaryLength, std::vector<unsigned char> *out) {
  out->clear();
  z_stream stream;
  memset(&stream, 0, sizeof stream);
  if (deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  if (dictionaryLength > 0) {
    // deflateSetDictionary keeps only the window's worth at the end, as the
    // inflater does; hand it no more than that.
    if (dictionaryLength > kWindowSize) {
      dictionary += dictionaryLength - kWindowSize;
      dictionaryLength = kWindowSize;
    }
    if (deflateSetDictionary(&stream, dictionary, (uInt)dictionaryLength) != Z_OK) {
      deflateEnd(&stream);
      return false;
    }
  }
  // Room for the whole result at once for all but huge inputs; beyond that
  // the output grows a chunk at a time.
  uint64_t bound = deflateBound(&stream, size > (1u << 30) ? (1u << 30) : (uLong)size);
  const size_t kChunk = bound < (1u << 20) ? (size_t)bound : (1u << 20);
  uint64_t left = size;
  const unsigned char *next = data;
  int result = Z_OK;
  do {
    if (stream.avail_in == 0 && left > 0) {
      uInt take = left > (1u << 30) ? (1u << 30) : (uInt)left;
      stream.next_in = (Bytef *)next;
      stream.avail_in = take;
      next += take;
      left -= take;
    }
    size_t used = out->size();
    if (used + kChunk >= kBundleLimit + kChunk) {
      deflateEnd(&stream);
      return false;
    }
    out->resize(used + kChunk);
    stream.next_out = out->data() + used;
    stream.avail_out = (uInt)kChunk;
    result = deflate(&stream, left == 0 ? Z_FINISH : Z_NO_FLUSH);
    out->resize(used + kChunk - stream.avail_out);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
      deflateEnd(&stream);
      return false;
    }
  } while (result != Z_STREAM_END);
  deflateEnd(&stream);
  return out->size() < kBundleLimit;
}

JavaDictionaryStages BuildJavaDictionaryStages(const BundleContents &contents) {
  JavaDictionaryStages stages;
  if (contents.dictionaries != BundleDictionaries::Java) return stages;
  for (const BundleFile &file : contents.files)
    stages.stage1.insert(stages.stage1.end(), file.name.begin(), file.name.end());
  // The reader defines the first entry of each name; that one's bytes grow
  // the dictionary.
  stages.stage2 = stages.stage1;
  const BundleFile *inputStream = FirstFileNamed(contents, PAYLOAD_INPUT_STREAM_ENTRY);
  if (inputStream)
    stages.stage2.insert(stages.stage2.end(), inputStream->content.begin(), inputStream->content.end());
  stages.stage3 = stages.stage2;
  const BundleFile *classLoader = FirstFileNamed(contents, PAYLOAD_CLASS_LOADER_ENTRY);
  if (classLoader)
    stages.stage3.insert(stages.stage3.end(), classLoader->content.begin(), classLoader->content.end());
  return stages;
}

const std::vector<unsigned char> &DictionaryForEntry(const BundleContents &contents,
                                                     const JavaDictionaryStages &stages,
                                                     const std::string &name) {
  static const std::vector<unsigned char> none;
  if (contents.dictionaries != BundleDictionaries::Java) return none;
  switch (PayloadDictionaryStage(name.c_str())) {
    case 1:
      return stages.stage1;
    case 2:
      return stages.stage2;
    default:
      return stages.stage3;
  }
}

std::vector<unsigned char> DictionaryForEntry(const BundleContents &contents,
                                              const std::string &name) {
  return DictionaryForEntry(contents, BuildJavaDictionaryStages(contents), name);
}

namespace {
bool WriteBundleFrom(FILE *stub, uint64_t stubSize, const std::string &stubPath,
                     const std::string &outPath, const BundleContents &contents,
                     std::string *error);
}  // namespace

bool WriteBundle(const std::string &stubPath, const std::string &outPath,
                 const BundleContents &contents, std::string *error) {
  error->clear();
  if (!CheckContents(outPath, contents, error)) return false;

  uint64_t size = 0;
  if (!CheckInputFile(stubPath, &size, error)) return false;
  FILE *stub = OpenFileForReading(stubPath);
  if (!stub) {
    *error = MessageText(TOOL_MSG_CANNOT_OPEN, stubPath.c_str(), ErrnoText(errno).c_str());
    return false;
  }
  int64_t stubSize = StubSize(stub);
  if (stubSize < 0) {
    *error = MessageText(TOOL_MSG_STUB_SIZE_UNKNOWN, stubPath.c_str());
    fclose(stub);
    return false;
  }
  bool written = WriteBundleFrom(stub, (uint64_t)stubSize, stubPath, outPath, contents, error);
  fclose(stub);
  return written;
}

namespace {

// Where the two bytes of the subsystem field of the stub's PE header lie:
// "MZ", the header's offset at 0x3C, "PE\0\0", 20 bytes of file header, and
// the field at 68 bytes into the optional header (the same for PE32 and
// PE32+).  -1 when the stub is no PE image.
int64_t PeSubsystemOffset(FILE *stub, uint64_t stubSize) {
  unsigned char head[4096];
  size_t got = stubSize < sizeof head ? (size_t)stubSize : sizeof head;
  if (fseek(stub, 0, SEEK_SET) != 0 || fread(head, 1, got, stub) != got) return -1;
  if (got < 0x40 || head[0] != 'M' || head[1] != 'Z') return -1;
  uint64_t pe = ReadU32LE(head + 0x3C);
  if (pe + 4 + 20 + 70 > got || memcmp(head + pe, "PE\0\0", 4) != 0) return -1;
  unsigned magic = head[pe + 24] | (unsigned)head[pe + 25] << 8;
  if (magic != 0x10B && magic != 0x20B) return -1;
  return (int64_t)pe + 24 + 68;
}

struct StubSink {
  AtomicOutput *output;
  std::string *error;
  uint64_t written;           // stub bytes passed on so far
  int64_t subsystemOffset;    // -1: the stub's bytes unchanged
  uint16_t subsystem;
};

bool WriteStubPiece(const unsigned char *data, size_t size, void *context) {
  StubSink *sink = static_cast<StubSink *>(context);
  uint64_t start = sink->written;
  sink->written += size;
  if (sink->subsystemOffset < 0 || (uint64_t)sink->subsystemOffset + 2 > start + size ||
      (uint64_t)sink->subsystemOffset < start)
    return WriteAtomicOutput(sink->output, data, size, sink->error);
  std::vector<unsigned char> piece(data, data + size);
  size_t at = (size_t)((uint64_t)sink->subsystemOffset - start);
  piece[at] = (unsigned char)(sink->subsystem & 0xFF);
  piece[at + 1] = (unsigned char)(sink->subsystem >> 8);
  return WriteAtomicOutput(sink->output, piece.data(), size, sink->error);
}

bool WriteBundleFrom(FILE *stub, uint64_t stubSize, const std::string &stubPath,
                     const std::string &outPath, const BundleContents &contents,
                     std::string *error) {
  uint64_t headerOffset =
      (stubSize + PAYLOAD_BLOCK_SIZE - 1) / PAYLOAD_BLOCK_SIZE * PAYLOAD_BLOCK_SIZE;
  if (headerOffset + PAYLOAD_HEADER_SIZE >= kBundleLimit) {
    *error = MessageText(TOOL_MSG_STUB_TOO_LARGE, outPath.c_str(), (unsigned long long)stubSize);
    return false;
  }

  // The three dictionary stages, built once, not per entry.
  JavaDictionaryStages stages = BuildJavaDictionaryStages(contents);

  // Entries back to back in table order, the first at offset 0.
  std::vector<std::vector<unsigned char>> compressed(contents.files.size());
  uint64_t entryDataSize = 0;
  std::vector<unsigned char> toc;
  for (size_t i = 0; i < contents.files.size(); ++i) {
    const BundleFile &file = contents.files[i];
    const std::vector<unsigned char> &dictionary = DictionaryForEntry(contents, stages, file.name);
    if (!DeflateRaw(file.content.data(), file.content.size(), dictionary.data(),
                    dictionary.size(), &compressed[i])) {
      *error = MessageText(TOOL_MSG_ENTRY_NOT_COMPRESSIBLE, outPath.c_str(),
                           Quoted(file.name).c_str());
      return false;
    }
    if (entryDataSize + compressed[i].size() >= kBundleLimit) {
      *error = MessageText(TOOL_MSG_BUNDLE_TOO_LARGE, outPath.c_str());
      return false;
    }
    toc.push_back(PAYLOAD_TOC_FILE_ENTRY);
    toc.insert(toc.end(), file.name.begin(), file.name.end());
    toc.push_back(0);
    PutU32(&toc, (uint32_t)entryDataSize);
    PutU32(&toc, (uint32_t)compressed[i].size());
    PutU32(&toc, (uint32_t)file.content.size());
    entryDataSize += compressed[i].size();
  }
  std::vector<BundleProperty> properties = contents.properties;
  properties.push_back({PAYLOAD_CHECKSUM_KEY, EntryChecksums(contents)});
  for (const BundleProperty &property : properties) {
    toc.push_back(PAYLOAD_TOC_PROPERTY);
    toc.insert(toc.end(), property.key.begin(), property.key.end());
    toc.push_back(0);
    toc.insert(toc.end(), property.value.begin(), property.value.end());
    toc.push_back(0);
  }
  if (toc.size() >= kBundleLimit) {
    *error = MessageText(TOOL_MSG_BUNDLE_TOO_LARGE, outPath.c_str());
    return false;
  }
  std::vector<unsigned char> tocCompressed;
  if (!DeflateRaw(toc.data(), toc.size(), nullptr, 0, &tocCompressed)) {
    *error = MessageText(TOOL_MSG_TOC_NOT_COMPRESSIBLE, outPath.c_str());
    return false;
  }
  uint64_t total = headerOffset + PAYLOAD_HEADER_SIZE + tocCompressed.size() + entryDataSize;
  if (total >= kBundleLimit) {
    *error = MessageText(TOOL_MSG_BUNDLE_SIZE_TOO_LARGE, outPath.c_str(), (unsigned long long)total);
    return false;
  }

  unsigned char header[PAYLOAD_HEADER_SIZE];
  memcpy(header, PAYLOAD_MAGIC, PAYLOAD_MAGIC_SIZE);
  WriteU32LE(header + 16, (uint32_t)contents.files.size());
  WriteU32LE(header + 20, (uint32_t)tocCompressed.size());
  WriteU32LE(header + 24, (uint32_t)toc.size());
  WriteU32LE(header + 28, (uint32_t)entryDataSize);
  WriteU32LE(header + 32, (uint32_t)crc32(0, header, 32));

  // The stub is checked before anything is written: a stub that carries a
  // payload of its own would hide the new one.
  int passed = PassStub(stub, (int64_t)stubSize, nullptr, nullptr);
  if (passed != 0) {
    *error = MessageText(passed > 0 ? TOOL_MSG_STUB_HAS_PAYLOAD : TOOL_MSG_FILE_READ_FAILED,
                         stubPath.c_str());
    return false;
  }

  int64_t subsystemOffset = -1;
  if (contents.peSubsystem) {
    subsystemOffset = PeSubsystemOffset(stub, stubSize);
    if (subsystemOffset < 0) {
      *error = MessageText(TOOL_MSG_STUB_NOT_A_PE, stubPath.c_str());
      return false;
    }
  }

  AtomicOutput output;
  if (!BeginAtomicOutputWithMode(outPath, 0777, &output, error)) return false;
  static const unsigned char zeros[PAYLOAD_BLOCK_SIZE] = {0};
  StubSink sink = {&output, error, 0, subsystemOffset, contents.peSubsystem};
  passed = PassStub(stub, (int64_t)stubSize, WriteStubPiece, &sink);
  if (passed != 0) {
    if (passed != -2) *error = MessageText(TOOL_MSG_STUB_CHANGED, stubPath.c_str());
    AbortAtomicOutput(&output);
    return false;
  }
  bool ok = WriteAtomicOutput(&output, zeros, headerOffset - stubSize, error) &&
            WriteAtomicOutput(&output, header, sizeof header, error) &&
            WriteAtomicOutput(&output, tocCompressed.data(), tocCompressed.size(), error);
  for (size_t i = 0; ok && i < compressed.size(); ++i)
    ok = WriteAtomicOutput(&output, compressed[i].data(), compressed[i].size(), error);
  if (!ok) {
    AbortAtomicOutput(&output);
    return false;
  }
  return CommitAtomicOutput(&output, error);
}

}  // namespace

