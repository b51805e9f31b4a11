// The payload index: finds the header in the executable, inflates the table of
// contents and builds the lookup structures, which live until the process
// ends.  After OpenPayload everything here is read-only, so lookups need no
// lock from any thread.
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "payload_internal.h"

const char PayloadFileNotFound[] = PAYLOAD_MSG_FILE_NOT_FOUND;

PayloadState payloadState = {INVALID_HANDLE_VALUE, 0, 0, 0, nullptr, nullptr, nullptr, 0, 0,
                             nullptr, 0, 0, nullptr, nullptr};

namespace {

// Weights of the name hash; only the even positions are used.
const unsigned char NameMultipliers[16] = {61, 59, 53, 47, 43, 41, 37, 31,
                                           29, 23, 17, 13, 11, 7,  3,  1};

// The number of buckets for that many entries: more than half of them, at
// most 16383.
uint32_t BucketsFor(uint32_t fileEntryCount) {
  int32_t half = (int32_t)fileEntryCount >> 1;
  uint32_t count = 7;
  for (int i = 0; i < 11 && (int64_t)count <= half; i++) count = 2 * count + 1;
  return count;
}

// Sizes the table for the announced entries; never grown afterwards.  Heads
// and tails of the chains in one zeroed block.  0 when out of memory.
int CreateEntryTable(uint32_t fileEntryCount) {
  payloadState.bucketCount = BucketsFor(fileEntryCount);
  payloadState.buckets = (FileEntry **)calloc(2 * (size_t)payloadState.bucketCount, sizeof(FileEntry *));
  return payloadState.buckets != nullptr;
}

// The file records of the inflated table, counted without building anything
// (a walk that stops at the first record it cannot step over).
uint32_t CountFileRecords(const unsigned char *records, size_t size) {
  uint32_t count = 0;
  for (size_t at = 0; at < size;) {
    unsigned char type = records[at++];
    const void *nul = memchr(records + at, 0, size - at);
    if (!nul) break;
    at = (size_t)((const unsigned char *)nul - records) + 1;
    if (type == PAYLOAD_TOC_FILE_ENTRY) {
      at += 12;
      if (count < UINT32_MAX) count++;
    } else if (type == PAYLOAD_TOC_PROPERTY) {
      nul = at < size ? memchr(records + at, 0, size - at) : nullptr;
      if (!nul) break;
      at = (size_t)((const unsigned char *)nul - records) + 1;
    } else {
      break;
    }
  }
  return count;
}

// A header that announces fewer file records than the table holds would
// leave a few buckets to carry them all, and every lookup would walk a chain
// as long as a fraction of the table: the table is then sized for the
// records themselves, so that the index costs time linear in the table's
// size whatever the header claims.  A truthful header changes nothing.
int FitEntryTable(const unsigned char *records, size_t size) {
  uint32_t buckets = BucketsFor(CountFileRecords(records, size));
  if (buckets <= payloadState.bucketCount) return 1;
  FileEntry **grown = (FileEntry **)calloc(2 * (size_t)buckets, sizeof(FileEntry *));
  if (!grown) return 0;
  free(payloadState.buckets);
  payloadState.buckets = grown;
  payloadState.bucketCount = buckets;
  return 1;
}

// Appends the record at the tail of its chain, so that a chain keeps table
// order and the first of a duplicated name is the one found.
int AddFileEntry(const char *name, size_t nameLength, uint32_t offset, uint32_t compressedSize,
                 uint32_t uncompressedSize, const char **message) {
  if (payloadState.entryOrderCount == payloadState.entryOrderCapacity) {
    size_t capacity = payloadState.entryOrderCapacity ? 2 * payloadState.entryOrderCapacity : 64;
    FileEntry **grown = (FileEntry **)realloc(payloadState.entryOrder, capacity * sizeof(FileEntry *));
    if (!grown) {
      *message = PAYLOAD_MSG_ALLOCATION_ERROR;
      return 0;
    }
    payloadState.entryOrder = grown;
    payloadState.entryOrderCapacity = capacity;
  }
  FileEntry *entry = (FileEntry *)calloc(1, offsetof(FileEntry, name) + nameLength + 1);
  if (!entry) {
    *message = PAYLOAD_MSG_ALLOCATION_ERROR;
    return 0;
  }
  entry->offset = offset;
  entry->compressedSize = compressedSize;
  entry->uncompressedSize = uncompressedSize;
  memcpy(entry->name, name, nameLength + 1);
  uint32_t bucket = HashEntryName(entry->name) % payloadState.bucketCount;
  FileEntry **tail = &payloadState.buckets[payloadState.bucketCount + bucket];
  if (*tail)
    (*tail)->next = entry;
  else
    payloadState.buckets[bucket] = entry;
  *tail = entry;
  payloadState.entryOrder[payloadState.entryOrderCount++] = entry;
  return 1;
}

int AppendConcatenatedName(const char *name, size_t nameLength, const char **message) {
  size_t needed = payloadState.concatenatedLength + nameLength + 1;
  if (needed > payloadState.concatenatedCapacity) {
    size_t capacity = payloadState.concatenatedCapacity ? payloadState.concatenatedCapacity : 256;
    while (capacity < needed) capacity *= 2;
    char *grown = (char *)realloc(payloadState.concatenatedNames, capacity);
    if (!grown) {
      *message = PAYLOAD_MSG_ALLOCATION_FAILED;
      return 0;
    }
    payloadState.concatenatedNames = grown;
    payloadState.concatenatedCapacity = capacity;
  }
  memcpy(payloadState.concatenatedNames + payloadState.concatenatedLength, name, nameLength);
  payloadState.concatenatedLength += nameLength;
  payloadState.concatenatedNames[payloadState.concatenatedLength] = 0;
  return 1;
}

int AddProperty(const char *key, size_t keyLength, const char *value, size_t valueLength,
                const char **message) {
  PropertyEntry *property =
      (PropertyEntry *)calloc(1, offsetof(PropertyEntry, value) + valueLength + 1);
  if (!property) {
    *message = PAYLOAD_MSG_ALLOCATION_ERROR;
    return 0;
  }
  memcpy(property->key, key, keyLength + 1);
  memcpy(property->value, value, valueLength + 1);
  property->next = payloadState.propertyHead;
  payloadState.propertyHead = property;
  return 1;
}

// Length of the NUL-terminated text at records[at], or -1 when no NUL stands
// before the end of the records.
ptrdiff_t TextLength(const unsigned char *records, size_t at, size_t size) {
  const void *end = at < size ? memchr(records + at, 0, size - at) : nullptr;
  return end ? (const unsigned char *)end - (records + at) : -1;
}

// Walks the records, which must end exactly at the end of the inflated bytes;
// nothing past them is ever read.
int WalkRecords(const unsigned char *records, size_t size, const char **message) {
  size_t at = 0;
  while (at < size) {
    unsigned char type = records[at++];
    if (type == PAYLOAD_TOC_FILE_ENTRY) {
      ptrdiff_t nameLength = TextLength(records, at, size);
      if (nameLength < 0 || size - at - (size_t)nameLength - 1 < 12) {
        *message = PAYLOAD_MSG_ENTRY_TRUNCATED;
        return 0;
      }
      const char *name = (const char *)records + at;
      const unsigned char *fields = records + at + nameLength + 1;
      if (!AddFileEntry(name, (size_t)nameLength, ReadU32LE(fields), ReadU32LE(fields + 4),
                        ReadU32LE(fields + 8), message) ||
          !AppendConcatenatedName(name, (size_t)nameLength, message))
        return 0;
      at += (size_t)nameLength + 1 + 12;
    } else if (type == PAYLOAD_TOC_PROPERTY) {
      ptrdiff_t keyLength = TextLength(records, at, size);
      ptrdiff_t valueLength = keyLength < 0 ? -1 : TextLength(records, at + keyLength + 1, size);
      if (valueLength < 0) {
        *message = PAYLOAD_MSG_ENTRY_TRUNCATED;
        return 0;
      }
      // The key lives in a 32-byte field with its NUL.
      if (keyLength >= PAYLOAD_KEY_FIELD_SIZE) {
        *message = PAYLOAD_MSG_KEY_TOO_LONG;
        return 0;
      }
      const char *key = (const char *)records + at;
      const char *value = key + keyLength + 1;
      if (!AddProperty(key, (size_t)keyLength, value, (size_t)valueLength, message)) return 0;
      at += (size_t)keyLength + 1 + (size_t)valueLength + 1;
    } else {
      *message = PAYLOAD_MSG_BAD_ENTRY_TYPE;
      return 0;
    }
  }
  return 1;
}

// The value of a hexadecimal digit, or -1.
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Hands every file entry its CRC from the checksum property, when the bundle
// has one: exactly one CRC of eight digits per entry, in table order, one
// space apart.  0 with the message when the value is not so.
int AttachEntryChecksums(const char **message) {
  const char *text = FindProperty(PAYLOAD_CHECKSUM_KEY);
  if (!text) return 1;
  for (size_t i = 0; i < payloadState.entryOrderCount; i++) {
    if (i > 0 && *text++ != ' ') goto invalid;
    uint32_t crc = 0;
    for (int k = 0; k < 8; k++) {
      int digit = HexDigit(*text++);
      if (digit < 0) goto invalid;
      crc = crc << 4 | (uint32_t)digit;
    }
    // Nothing is ever inflated for an empty entry: its CRC can only be 0.
    if (payloadState.entryOrder[i]->uncompressedSize == 0 && crc != 0) goto invalid;
    payloadState.entryOrder[i]->crc = crc;
  }
  if (*text) goto invalid;
  payloadState.entryChecksums = 1;
  return 1;
invalid:
  *message = PAYLOAD_MSG_BAD_CHECKSUMS;
  return 0;
}

// Inflates the table of contents in one step and builds the index from it.
// Records added before a failure stay in place.
int ParseTableOfContents(const unsigned char *compressed, uint32_t compressedSize,
                         uint32_t uncompressedSize, const char **message) {
  // An empty table still gets a buffer (a size of 0 may give null).
  unsigned char *records = (unsigned char *)malloc(uncompressedSize ? uncompressedSize : 1);
  if (!records) {
    *message = PAYLOAD_MSG_ALLOCATION_FAILED;
    return 0;
  }
  z_stream inflater;
  memset(&inflater, 0, sizeof inflater);
  if (inflateInit2(&inflater, -15) != Z_OK) {
    free(records);
    *message = PAYLOAD_MSG_INFLATE_INIT_FAILED;
    return 0;
  }
  inflater.next_in = (Bytef *)compressed;
  inflater.avail_in = compressedSize;
  inflater.next_out = records;
  inflater.avail_out = uncompressedSize;
  int result = inflate(&inflater, Z_FINISH);
  uLong produced = inflater.total_out;
  inflateEnd(&inflater);
  if (result != Z_STREAM_END) {
    free(records);
    *message = PAYLOAD_MSG_DECOMPRESSION_FAILED;
    return 0;
  }
  // A stream that ends early would leave the tail of the buffer unwritten.
  if (produced != uncompressedSize) {
    free(records);
    *message = PAYLOAD_MSG_TOC_TRUNCATED;
    return 0;
  }
  if (!FitEntryTable(records, uncompressedSize)) {
    free(records);
    *message = PAYLOAD_MSG_ALLOCATION_ERROR;
    return 0;
  }
  int ok = WalkRecords(records, uncompressedSize, message);
  free(records);
  return ok;
}

// Everything of OpenPayload behind the choice of the file.
int OpenPayloadAt(const WCHAR *path, const char **message) {
  payloadState.file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (payloadState.file == INVALID_HANDLE_VALUE) {
    *message = PAYLOAD_MSG_OPEN_FAILED;
    return 0;
  }

  unsigned char *compressed = nullptr;
  unsigned char block[PAYLOAD_BLOCK_SIZE];
  DWORD got = 0;
  PayloadHeader header;
  // The header counts only at a block start, and only with its CRC.
  for (;;) {
    if (!ReadFile(payloadState.file, block, PAYLOAD_BLOCK_SIZE, &got, nullptr) ||
        got < PAYLOAD_HEADER_SIZE) {
      *message = PAYLOAD_MSG_NO_HEADER;
      goto failure;
    }
    if (DecodePayloadHeader(block, &header) == PAYLOAD_HEADER_FOUND) break;
  }

  {
    uint32_t fileEntryCount = header.fileEntryCount;
    uint32_t tocCompressedSize = header.tocCompressedSize;
    uint32_t tocUncompressedSize = header.tocUncompressedSize;

    compressed = (unsigned char *)malloc(tocCompressedSize ? tocCompressedSize : 1);
    if (!compressed) {
      *message = PAYLOAD_MSG_ALLOCATION_ERROR;
      goto failure;
    }
    // Back from the end of the block read to just behind the header.
    if (SetFilePointer(payloadState.file, PAYLOAD_HEADER_SIZE - (LONG)got, nullptr, FILE_CURRENT) ==
        INVALID_SET_FILE_POINTER) {
      *message = PAYLOAD_MSG_SEEK_FAILED;
      goto failure;
    }
    if (!ReadFile(payloadState.file, compressed, tocCompressedSize, &got, nullptr) ||
        got < tocCompressedSize) {
      *message = PAYLOAD_MSG_TOC_READ_FAILED;
      goto failure;
    }
    // Entry offsets count from here as signed 32-bit file offsets: a table
    // that ends at 2 GiB or beyond leaves no valid offset for any entry.
    DWORD position = SetFilePointer(payloadState.file, 0, nullptr, FILE_CURRENT);
    if (position == INVALID_SET_FILE_POINTER || position > INT32_MAX) {
      *message = PAYLOAD_MSG_OFFSET_FAILED;
      goto failure;
    }
    payloadState.entryDataStart = (int32_t)position;
    if (!CreateEntryTable(fileEntryCount)) {
      *message = PAYLOAD_MSG_ALLOCATION_ERROR;
      goto failure;
    }
    if (!ParseTableOfContents(compressed, tocCompressedSize, tocUncompressedSize, message) ||
        !AttachEntryChecksums(message))
      goto failure;
  }
  free(compressed);
  return 1;

failure:
  CloseHandle(payloadState.file);
  payloadState.file = INVALID_HANDLE_VALUE;
  free(compressed);
  return 0;
}

}  // namespace

int OpenPayload(const char **message) {
  *message = nullptr;
  // A path that does not fit is cut short and then fails to open.
  WCHAR path[4096];
  GetModuleFileNameW(nullptr, path, 4096);
  return OpenPayloadAt(path, message);
}

int OpenPayloadFile(const char *path, const char **message) {
  *message = nullptr;
  WCHAR widePath[4096];
  if (MultiByteToWideChar(CP_UTF8, 0, path, -1, widePath, 4096) == 0) {
    *message = PAYLOAD_MSG_OPEN_FAILED;
    return 0;
  }
  return OpenPayloadAt(widePath, message);
}

void ClosePayload(void) {
  if (payloadState.file != INVALID_HANDLE_VALUE) CloseHandle(payloadState.file);
  payloadState.file = INVALID_HANDLE_VALUE;
  payloadState.entryDataStart = 0;
  payloadState.entryChecksums = 0;
  for (uint32_t i = 0; payloadState.buckets && i < payloadState.bucketCount; i++) {
    for (FileEntry *entry = payloadState.buckets[i]; entry;) {
      FileEntry *next = entry->next;
      free(entry);
      entry = next;
    }
  }
  free(payloadState.buckets);
  payloadState.buckets = nullptr;
  payloadState.bucketCount = 0;
  while (payloadState.propertyHead) {
    PropertyEntry *next = payloadState.propertyHead->next;
    free(payloadState.propertyHead);
    payloadState.propertyHead = next;
  }
  free(payloadState.concatenatedNames);
  payloadState.concatenatedNames = nullptr;
  payloadState.concatenatedLength = payloadState.concatenatedCapacity = 0;
  free(payloadState.entryOrder);
  payloadState.entryOrder = nullptr;
  payloadState.entryOrderCount = payloadState.entryOrderCapacity = 0;
}

uint32_t HashEntryName(const char *name) {
  uint32_t h = 0;
  unsigned i = 0;
  for (const signed char *c = (const signed char *)name; *c; c++, i += 2)
    h = (h + NameMultipliers[i % 16] * (uint32_t)(int32_t)*c) * 5;
  return h;
}

int FindFileEntry(const char *name, FileEntry **entry, const char **message) {
  *message = nullptr;
  if (payloadState.buckets) {
    for (FileEntry *candidate = payloadState.buckets[HashEntryName(name) % payloadState.bucketCount]; candidate;
         candidate = candidate->next) {
      if (strcmp(candidate->name, name) == 0) {
        *entry = candidate;
        return 1;
      }
    }
  }
  *message = PayloadFileNotFound;
  return 0;
}

const char *FindProperty(const char *key) {
  for (PropertyEntry *property = payloadState.propertyHead; property; property = property->next)
    if (strcmp(property->key, key) == 0) return property->value;
  return nullptr;
}

const char *GetConcatenatedNames(void) { return payloadState.concatenatedNames; }

uint32_t GetPayloadBucketCount(void) { return payloadState.bucketCount; }

int32_t GetPayloadEntryDataStart(void) { return payloadState.entryDataStart; }

int PayloadHasEntryChecksums(void) { return payloadState.entryChecksums; }

void ForEachFileEntry(void (*visit)(const FileEntry *entry, void *context), void *context) {
  for (size_t i = 0; i < payloadState.entryOrderCount; i++) visit(payloadState.entryOrder[i], context);
}

void ForEachProperty(void (*visit)(const PropertyEntry *property, void *context), void *context) {
  for (PropertyEntry *property = payloadState.propertyHead; property; property = property->next)
    visit(property, context);
}
