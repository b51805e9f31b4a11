// libFuzzer target: the input is a whole file.  It is indexed with
// OpenPayloadFile, every lookup is checked against the index's own view, and
// every file entry is read to its end without a dictionary, with an empty one
// and with the dictionary that Java hosting would preset.  Inputs whose
// headers were damaged by mutation (magic in place, CRC wrong) are opened a
// second time with the CRCs repaired, so that mutations of the header fields
// reach the table of contents.
//
// Checked beyond the sanitizers: a read never returns more than asked nor
// more than the entry declares, the remaining count always matches, lock and
// unlock hooks pair up, and ClosePayload frees everything (LeakSanitizer).
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "payload.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Larger tables would only measure the allocator; a real table this size
// would come from a bundle far beyond the fuzzer's input length.
const uint32_t kMaxTableSize = 64u << 20;
// Output read per entry and dictionary before moving on; less with tiny reads.
const size_t kMaxEntryOutput = 4u << 20;
const size_t kMaxTinyReadOutput = 64u << 10;
// Entries read per input: every entry is looked up, but reading thousands of
// alike entries three times over adds no coverage and would spend the
// per-input time limit, which is there to catch an index whose cost grows
// faster than its table (the lying-count seed).
const size_t kMaxEntriesRead = 2000;

int lockDepth = 0;
int lockCalls = 0;

int FuzzLock(void *context) {
  lockDepth++;
  lockCalls++;
  // Refuse now and then (on a pattern fixed by the call count) so that the
  // retry path is exercised too.
  if (lockCalls % 7 == 3) {
    lockDepth--;
    return 0;
  }
  return 1;
}

int FuzzUnlock(void *context) {
  lockDepth--;
  return 0;
}

uint32_t U32(const unsigned char *p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// The first block start with the magic and a matching CRC, as the reader
// scans; -1 when there is none.
long FindHeader(const Bytes &file) {
  for (size_t at = 0; at + PAYLOAD_HEADER_SIZE <= file.size(); at += PAYLOAD_BLOCK_SIZE) {
    const unsigned char *h = file.data() + at;
    if (memcmp(h, PAYLOAD_MAGIC, PAYLOAD_MAGIC_SIZE) == 0 && crc32(0, h, 32) == U32(h + 32))
      return (long)at;
  }
  return -1;
}

// Repairs the CRC of every block start that holds the magic; false when none
// needed repair.
bool RepairCrcs(Bytes &file) {
  bool changed = false;
  for (size_t at = 0; at + PAYLOAD_HEADER_SIZE <= file.size(); at += PAYLOAD_BLOCK_SIZE) {
    unsigned char *h = file.data() + at;
    if (memcmp(h, PAYLOAD_MAGIC, PAYLOAD_MAGIC_SIZE) != 0) continue;
    uint32_t crc = (uint32_t)crc32(0, h, 32);
    if (U32(h + 32) == crc) continue;
    for (int i = 0; i < 4; i++) h[32 + i] = (unsigned char)(crc >> (8 * i));
    changed = true;
  }
  return changed;
}

// Whether opening would only exercise a huge allocation: the reader sizes its
// buffers from the header before it reads anything.
bool TooBigToOpen(const Bytes &file) {
  long at = FindHeader(file);
  if (at < 0) return false;
  const unsigned char *h = file.data() + at;
  uint32_t tocCompressedSize = U32(h + 20), tocUncompressedSize = U32(h + 24);
  return tocCompressedSize > file.size() || tocUncompressedSize > kMaxTableSize;
}

// Reads the entry to its end (or a failure, or the output cap) and returns
// what it produced.
Bytes ReadEntry(const FileEntry *entry, const void *dictionary, int dictionaryLength,
                uint32_t chunk) {
  Bytes out;
  const char *message = nullptr;
  EntryStream *stream = OpenEntryStream(entry->name, dictionary, dictionaryLength, &message);
  if (!stream) {
    if (!message) abort();
    return out;
  }
  FileEntry *found = nullptr;
  const char *findMessage = nullptr;
  if (!FindFileEntry(entry->name, &found, &findMessage)) abort();
  if (GetEntryStreamRemaining(stream) != found->uncompressedSize) abort();
  unsigned char *buffer = (unsigned char *)malloc(chunk);
  uint64_t produced = 0;
  size_t limit = chunk < 512 ? kMaxTinyReadOutput : kMaxEntryOutput;
  while (out.size() < limit) {
    int n = ReadEntryStream(stream, buffer, chunk, &lockDepth);
    if (lockDepth != 0) abort();  // every taken lock was released
    const char *statusMessage = nullptr;
    int status = GetEntryStreamStatus(stream, &statusMessage);
    if ((status == 0) != (statusMessage == nullptr)) abort();
    if (n < 0) {
      if (n != -1) abort();
      if (status == ENTRY_STATUS_LOCK_FAILED) continue;  // retry, as a caller would
      if (status != ENTRY_STATUS_SEEK_FAILED && status != ENTRY_STATUS_READ_FAILED &&
          status != ENTRY_STATUS_DECOMPRESSION_FAILED)
        abort();
      break;
    }
    if ((uint32_t)n > chunk) abort();
    produced += (uint32_t)n;
    if (produced > found->uncompressedSize) abort();  // never past the declared size
    if (GetEntryStreamRemaining(stream) != found->uncompressedSize - (uint32_t)produced) abort();
    if (n == 0) break;
    out.insert(out.end(), buffer, buffer + n);
  }
  free(buffer);
  CloseEntryStream(stream);
  return out;
}

void CollectEntry(const FileEntry *entry, void *context) {
  static_cast<std::vector<const FileEntry *> *>(context)->push_back(entry);
}

void CheckProperty(const PropertyEntry *property, void *context) {
  if (memchr(property->key, 0, PAYLOAD_KEY_FIELD_SIZE) == nullptr) abort();
  if (FindProperty(property->key) == nullptr) abort();
}

void Exercise(const Bytes &file, const std::string &path, uint32_t chunk) {
  if (TooBigToOpen(file)) return;
  FILE *out = fopen(path.c_str(), "wb");
  if (!out) abort();
  if (!file.empty() && fwrite(file.data(), 1, file.size(), out) != file.size()) abort();
  fclose(out);

  const char *message = nullptr;
  if (!OpenPayloadFile(path.c_str(), &message)) {
    if (!message) abort();
    ClosePayload();
    return;
  }
  if (message) abort();

  std::vector<const FileEntry *> entries;
  ForEachFileEntry(CollectEntry, &entries);
  ForEachProperty(CheckProperty, nullptr);

  // Lookups agree with the table: each name finds the first record of that
  // name, and ConcatenatedNames joins all names in table order.
  std::string joined;
  for (const FileEntry *entry : entries) {
    joined += entry->name;
    FileEntry *found = nullptr;
    if (!FindFileEntry(entry->name, &found, &message)) abort();
    if (strcmp(found->name, entry->name) != 0) abort();
  }
  const char *names = GetConcatenatedNames();
  if (entries.empty() != (names == nullptr)) abort();
  if (names && joined != names) abort();

  // The three dictionary stages of Java hosting.
  Bytes stage1(joined.begin(), joined.end());
  Bytes stage2 = stage1, stage3;
  FileEntry *inputStream = nullptr, *classLoader = nullptr;
  if (FindFileEntry(PAYLOAD_INPUT_STREAM_ENTRY, &inputStream, &message)) {
    Bytes content = ReadEntry(inputStream, stage1.data(), (int)stage1.size(), chunk);
    stage2.insert(stage2.end(), content.begin(), content.end());
  }
  stage3 = stage2;
  if (FindFileEntry(PAYLOAD_CLASS_LOADER_ENTRY, &classLoader, &message)) {
    Bytes content = ReadEntry(classLoader, stage2.data(), (int)stage2.size(), chunk);
    stage3.insert(stage3.end(), content.begin(), content.end());
  }

  SetLockHooks(nullptr, nullptr);
  unsigned char none = 0;
  if (entries.size() > kMaxEntriesRead) entries.resize(kMaxEntriesRead);
  for (const FileEntry *entry : entries) {
    ReadEntry(entry, nullptr, 0, chunk);
    ReadEntry(entry, &none, 0, chunk);
  }
  SetLockHooks(FuzzLock, FuzzUnlock);
  for (const FileEntry *entry : entries) {
    const Bytes &dictionary = entry == inputStream ? stage1 : entry == classLoader ? stage2 : stage3;
    ReadEntry(entry, dictionary.data(), (int)dictionary.size(), chunk);
  }
  SetLockHooks(nullptr, nullptr);
  ClosePayload();
}

std::string InputPath() {
  const char *dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return std::string(dir) + "/satchel-fuzz-" + std::to_string(getpid()) + ".bin";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = InputPath();
  static const uint32_t chunks[4] = {4096, 512, 1, 65536};
  Bytes file(data, data + size);
  // The read size follows the input, so that the corpus covers all of them.
  uint32_t chunk = chunks[size % 4];
  if (chunk == 1 && size > 4096) chunk = 7;
  Exercise(file, path, chunk);
  if (RepairCrcs(file)) Exercise(file, path, chunk);
  unlink(path.c_str());
  return 0;
}
