// The payload library: reads the bundle appended to the running executable.
//
//   offset 0        +-----------------------------+
//                   | launcher stub (PE image and |
//                   | whatever the PE carries)    |
//                   +-----------------------------+
//                   | filler up to a multiple of  |
//                   | 512 (none if already there) |
//   512 * k         +-----------------------------+
//                   | PayloadHeader, 36 bytes     |
//                   |   0 magic "_kestrel_Header_"|
//                   |  16 fileEntryCount     u32  |
//                   |  20 tocCompressedSize  u32  |
//                   |  24 tocUncompressedSize u32 |
//                   |  28 entryDataSize      u32  |
//                   |  32 headerCrc (of 0..31)    |
//                   +-----------------------------+
//                   | table of contents: one raw  |
//                   | deflate stream of records   |
//                   |   1 name\0 off csize usize  |
//                   |   2 key\0 value\0           |
//   entryDataStart  +-----------------------------+
//                   | entry data: one raw deflate |
//                   | stream per file entry, at   |
//                   | entryDataStart + offset     |
//   end of file     +-----------------------------+
//
// All integers are u32 little-endian, read byte by byte (ReadU32LE).  The
// header counts only at a 512-byte block start and only with a matching
// CRC-32; the first such block wins.  Every file offset is a signed 32-bit
// value, so a bundle ends below 2^31 bytes (PAYLOAD_SIZE_LIMIT).
//
// Preset dictionaries: the entries that the installer launcher extracts
// ("msi", "exe") are compressed without one; the stages of a Java bundle's
// are in java_bundle.h, with its other facts.
//
// Failures follow one convention: the result is 0 or null and an out
// parameter receives a constant message text (set to null on entry).
#ifndef SATCHEL_PAYLOAD_H
#define SATCHEL_PAYLOAD_H

#include <stddef.h>
#include <stdint.h>
#include <zlib.h>

#include "java_bundle.h"
#include "payload_messages.h"
#include "platform.h"

#define PAYLOAD_MAGIC "_kestrel_Header_"
#define PAYLOAD_MAGIC_SIZE 16
#define PAYLOAD_HEADER_SIZE 36
#define PAYLOAD_BLOCK_SIZE 512
#define PAYLOAD_KEY_FIELD_SIZE 32
#define PAYLOAD_TOC_FILE_ENTRY 1
#define PAYLOAD_TOC_PROPERTY 2
#define ENTRY_STREAM_CHUNK 4096
// A bundle, and every offset in it, stays below this (offsets are signed
// 32-bit values); an entry's uncompressed size is a u32.
#define PAYLOAD_SIZE_LIMIT 0x80000000u
#define PAYLOAD_ENTRY_SIZE_LIMIT 0x100000000ull
// What an inflater keeps of a preset dictionary: its last 32 KiB.
#define PAYLOAD_DICTIONARY_WINDOW 32768u

// Entry checksums: the property of this key holds the CRC-32 (zlib's crc32,
// ISO 3309) of every file entry's content, in table order, duplicates
// included: eight lower-case hexadecimal digits per entry, one space between
// two entries, e.g. "0a1b2c3d 00000000".  A bundle without it reads as
// before; with it, a stream that produces an entry's last byte checks the
// CRC, and one that does not match fails with status 6.  A value that does
// not hold exactly one CRC per file entry rejects the whole payload.
#define PAYLOAD_CHECKSUM_KEY "entry-crc32"

// An installer bundle: the properties "msi" and "exe" give the file names that
// the launcher writes the entries of the same names under; with the property
// "pass-arguments" of the value "1" the launcher hands its own arguments on
// to the program (without it the program gets none); entries named
// "files/NAME" are written beside the two under NAME, a plain file name, and
// deleted with them.
#define PAYLOAD_MSI_KEY "msi"
#define PAYLOAD_EXE_KEY "exe"
#define PAYLOAD_PASS_ARGUMENTS_KEY "pass-arguments"
#define PAYLOAD_FILES_PREFIX "files/"
// The packager's own quiet switches (satchel pack --quiet-switch), blank-
// separated: in the arguments handed on, they make the launcher's failures
// show no box, as msiexec's own quiet switches do.
#define PAYLOAD_QUIET_SWITCHES_KEY "quiet-switches"
// The text of the launcher's progress window (satchel pack --progress).
#define PAYLOAD_PROGRESS_KEY "progress"

// One file entry of the index; one heap block, the name inline at its end.
struct FileEntry {
  uint32_t offset;  // relative to entryDataStart
  uint32_t compressedSize;
  uint32_t uncompressedSize;
  uint32_t crc;     // CRC-32 of the content, from PAYLOAD_CHECKSUM_KEY (0 without it)
  FileEntry *next;  // next record of the same bucket, in table order
  char name[1];     // the name and its NUL
};

// One property of the index; one heap block, the value inline at its end.
struct PropertyEntry {
  char key[PAYLOAD_KEY_FIELD_SIZE];  // the key and its NUL, the rest zero
  PropertyEntry *next;               // properties stand in reverse table order
  char value[1];                     // the value and its NUL
};

// Lock hooks around every refill of an entry stream from the file.  The lock
// hook returns non-zero when the lock is now held; the unlock hook's result is
// ignored.  Both receive the context passed to ReadEntryStream.
typedef int (*LockHook)(void *context);
typedef int (*UnlockHook)(void *context);

// EntryStatus codes.
enum {
  ENTRY_STATUS_NONE = 0,
  ENTRY_STATUS_SEEK_FAILED = 1,
  ENTRY_STATUS_READ_FAILED = 2,
  ENTRY_STATUS_EOF = 3,
  ENTRY_STATUS_LOCK_FAILED = 4,
  ENTRY_STATUS_DECOMPRESSION_FAILED = 5,
  ENTRY_STATUS_CHECKSUM_MISMATCH = 6
};

// An open reading cursor over one file entry; owned by whoever opened it
// until CloseEntryStream.
struct EntryStream {
  const FileEntry *entry;
  int32_t consumed;     // compressed bytes fetched from the file so far
  int32_t status;       // EntryStatus code
  const char *message;  // text of the last status, null while 0
  uint32_t crc;         // CRC-32 of the bytes produced so far
  z_stream inflater;
  unsigned char inputBuffer[ENTRY_STREAM_CHUNK];
};

// ---- facts shared by every layer (format.cpp) ----

uint16_t ReadU16LE(const unsigned char *at);
uint32_t ReadU32LE(const unsigned char *at);
void WriteU32LE(unsigned char *at, uint32_t value);

// The PayloadHeader's fields (the magic and the CRC are the codec's own).
struct PayloadHeader {
  uint32_t fileEntryCount;
  uint32_t tocCompressedSize;
  uint32_t tocUncompressedSize;
  uint32_t entryDataSize;
  uint32_t headerCrc;  // as stored at byte 32; set by DecodePayloadHeader
};

// What the first PAYLOAD_HEADER_SIZE bytes of a block hold.
enum {
  PAYLOAD_HEADER_ABSENT = 0,   // no magic: not a header
  PAYLOAD_HEADER_FOUND = 1,    // the magic and a matching CRC: the header
  PAYLOAD_HEADER_BAD_CRC = 2   // the magic with a CRC that does not match: passed over
};

// Reads the candidate header at `block` (PAYLOAD_HEADER_SIZE bytes).  Its
// fields go to *header whenever the magic is there, so that a tool can show
// what a block with a wrong CRC claims.
int DecodePayloadHeader(const unsigned char *block, PayloadHeader *header);

// Writes the magic, the fields and their CRC-32 (headerCrc is not read) into
// PAYLOAD_HEADER_SIZE bytes at `out`.
void EncodePayloadHeader(const PayloadHeader *header, unsigned char *out);

// Decodes the UTF-8 sequence at `text` (`length` bytes available, at least
// one).  The code point, with *used set to its length; or UTF8_ILL_FORMED
// when no well-formed sequence starts there (overlong forms, surrogates and
// values above U+10FFFF included), with *used set to the longest prefix that
// could have begun one (at least 1): where the system's converter puts one
// U+FFFD.
#define UTF8_ILL_FORMED 0xFFFFFFFFu
uint32_t DecodeUtf8(const unsigned char *text, size_t length, size_t *used);
// The same for the modified UTF-8 of JNI and of Java's class files and
// DataOutput: also U+0000 as C0 80 (0, *used 2) and a surrogate encoded by
// itself in three bytes (its own value: U+D800 to U+DFFF).
uint32_t DecodeModifiedUtf8(const unsigned char *text, size_t length, size_t *used);

// Appends the modified UTF-8 form of code point c (U+0000 as two bytes,
// supplementary characters as two three-byte surrogates: what JNI's
// NewStringUTF and Java's DataInput.readUTF take) and returns the new end; at
// most six bytes.
char *PutModifiedUtf8(char *out, uint32_t c);

// The plain Windows file-name rule: `name` (UTF-8, `length` bytes) can be used
// unchanged as the last component of a Windows path.  Not empty, not "." or
// "..", well-formed UTF-8, no control character and none of \ / : * ? " < > |,
// no trailing dot or space, at most PLAIN_NAME_MAX_UNITS UTF-16 code units,
// and no reserved device name (also not with an extension, as in "con.txt").
// 1 when plain; else 0 with *check saying why.
#define PLAIN_NAME_MAX_UNITS 960  // what the launcher's path buffers leave for a name
enum {
  PLAIN_NAME_OK = 0,
  PLAIN_NAME_EMPTY,
  PLAIN_NAME_DOTS,
  PLAIN_NAME_NOT_UTF8,
  PLAIN_NAME_CONTROL,
  PLAIN_NAME_CHARACTER,        // check->character is the one found
  PLAIN_NAME_ENDS_WITH_DOT,
  PLAIN_NAME_ENDS_WITH_SPACE,
  PLAIN_NAME_TOO_LONG,         // check->units is the name's length
  PLAIN_NAME_RESERVED          // the name's first baseLength bytes are the device name
};
struct PlainNameCheck {
  int problem;
  char character;
  size_t units;
  size_t baseLength;
};
int CheckPlainWindowsFileName(const char *name, size_t length, PlainNameCheck *check);

// ---- index ----

// Opens the running executable and indexes its payload.  1 on success; 0 with
// the message set.  Called once per process, before any other operation.
int OpenPayload(const char **message);

// The same, for the payload of another file (the bundle tool and tests): the
// path is UTF-8.  Everything after locating the file is OpenPayload's own road.
int OpenPayloadFile(const char *path, const char **message);

// Frees the index and closes the file, so that another payload can be opened
// in the same process (the bundle tool, tests, the fuzzer).  The launcher never
// calls it: its index lives until the process ends.
void ClosePayload(void);

// The first file entry of that name in table order; 0 with PayloadFileNotFound.
int FindFileEntry(const char *name, FileEntry **entry, const char **message);

// The value of the last property of that key in table order, or null.
const char *FindProperty(const char *key);

// All file entry names in table order, joined; null when there are none.
const char *GetConcatenatedNames(void);

uint32_t HashEntryName(const char *name);

// 1 when the payload carries entry checksums (PAYLOAD_CHECKSUM_KEY), else 0.
int PayloadHasEntryChecksums(void);

// Read-only views of the index for the bundle tool and tests.
uint32_t GetPayloadBucketCount(void);
int32_t GetPayloadEntryDataStart(void);
// Calls `visit` for every file entry in table order, duplicates included.
void ForEachFileEntry(void (*visit)(const FileEntry *entry, void *context), void *context);
// Calls `visit` for every property in index order (reverse table order).
void ForEachProperty(void (*visit)(const PropertyEntry *property, void *context), void *context);

// ---- entry streams ----

void SetLockHooks(LockHook lockHook, UnlockHook unlockHook);

// A new stream over the named entry with an optional preset dictionary (any
// non-null pointer is handed to the inflater, also with length 0).  Null with
// the message set on failure; nothing stays allocated then.
EntryStream *OpenEntryStream(const char *name, const void *dictionary, int dictionaryLength,
                             const char **message);

// Inflates at most `length` bytes into `buffer`: the count produced, 0 at the
// end of the entry (status 3 "EOF"), -1 on failure (status 1, 2, 4, 5 or 6).  One
// call makes at most one fetch of up to 4096 compressed bytes and one inflate
// step, so it may return fewer bytes than are left; call again until 0.  A 0
// comes only once all `uncompressedSize` bytes have been produced: an entry
// whose deflate stream ends early, or yields nothing, fails with status 5.
int ReadEntryStream(EntryStream *stream, void *buffer, uint32_t length, void *context);

uint32_t GetEntryStreamRemaining(EntryStream *stream);
int GetEntryStreamStatus(EntryStream *stream, const char **message);
void CloseEntryStream(EntryStream *stream);

#endif  // SATCHEL_PAYLOAD_H
