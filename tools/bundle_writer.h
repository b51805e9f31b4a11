// Writing bundles: a launcher stub, filler to the next 512-byte boundary, the
// header, the table of contents and the entries, each entry compressed (at
// the best level unless told) with exactly the preset dictionary that its
// reader will set.
#ifndef SATCHEL_BUNDLE_WRITER_H
#define SATCHEL_BUNDLE_WRITER_H

#include <stdint.h>

#include <string>
#include <vector>

#include "bundle_identity.h"
#include "payload.h"

// An entry's number for the contents' EntrySource: none.
const uint64_t kNoEntrySource = ~(uint64_t)0;

struct BundleFile {
  std::string name;                    // entry name, no NUL
  std::vector<unsigned char> content;  // uncompressed bytes, unless `path` is given
  // Non-empty: the entry holds this file's bytes instead, read once, a piece
  // at a time, while the bundle is written (so an input of any size costs
  // no memory).  The file must not change meanwhile.
  std::string path = std::string();
  // Not kNoEntrySource: the entry holds the `sourceSize` bytes that the
  // contents' EntrySource gives for this number, read likewise.
  uint64_t sourceEntry = kNoEntrySource;
  uint64_t sourceSize = 0;
};

// Where the bytes of entries that are neither in memory nor a file come
// from (pack-java: entries left in their jars).  Each such entry is opened
// once, when its turn to be compressed comes, and read to its end.
struct EntrySource {
  // Starts reading the entry `file` (by its sourceEntry); null with *error
  // set.
  void *(*open)(void *context, const BundleFile &file, std::string *error);
  // Up to `size` bytes (at least 1 while any are left): how many; 0 at the
  // end, once the source has found the entry whole and unchanged; -1 with
  // *error set.
  int64_t (*read)(void *entry, unsigned char *buffer, size_t size, std::string *error);
  void (*close)(void *entry);
  void *context;
};

struct BundleProperty {
  std::string key;  // at most 31 bytes, no NUL
  std::string value;
};

enum class BundleDictionaries {
  None,  // installer bundles: every entry without a preset dictionary
  Java   // Java bundles: the three-stage dictionary (ConcatenatedNames, then
         // the InternalInputStream and InternalClassLoader class files)
};

struct BundleContents {
  std::vector<BundleFile> files;  // table order; duplicates allowed (the first wins)
  std::vector<BundleProperty> properties;
  BundleDictionaries dictionaries = BundleDictionaries::None;
  // Non-zero: the Windows subsystem written into the copy of the stub's PE
  // header (2: GUI, 3: console); the stub must then be a PE image.
  uint16_t peSubsystem = 0;
  // Given: the copy of the stub (a PE image) gets this icon, version block
  // and manifest in a rebuilt resource section, and the whole bundle's PE
  // checksum.  Not given: the stub's bytes go in front unchanged.
  BundleIdentity identity = BundleIdentity();
  // The source of the files that have a sourceEntry.
  const EntrySource *source = nullptr;
};

// The three stages of a Java bundle's preset dictionary, in full: stage 1 is
// ConcatenatedNames, stage 2 adds the first InternalInputStream entry's bytes,
// stage 3 the first InternalClassLoader entry's.  All empty for an installer
// bundle.  (Only the last 32 KiB of each takes part in compression.)  The two
// internal classes are taken from `content`; WriteBundle refuses them as
// files.
struct JavaDictionaryStages {
  std::vector<unsigned char> stage1, stage2, stage3;
};
JavaDictionaryStages BuildJavaDictionaryStages(const BundleContents &contents);

// The stage that PayloadDictionaryStage names for the entry `name`: what the
// writer compresses it with and what a reader sets to read it.
const std::vector<unsigned char> &JavaDictionaryStage(const JavaDictionaryStages &stages,
                                                      const char *name);

// The preset dictionary that the reader sets for `name` in a bundle of these
// contents (empty when it sets none): the stage that PayloadDictionaryStage
// names.  The writer compresses every entry with exactly this.
const std::vector<unsigned char> &DictionaryForEntry(const BundleContents &contents,
                                                     const JavaDictionaryStages &stages,
                                                     const std::string &name);
std::vector<unsigned char> DictionaryForEntry(const BundleContents &contents,
                                              const std::string &name);

// Writes stub + payload to outPath through a temporary file in the same
// folder that is renamed into place only when complete.  False with *error
// naming the file and the reason; nothing is left under outPath then.
//
// The entries are compressed in blocks of 128 KiB on several threads, in
// table order into a scratch file beside the output (the table of contents,
// which lies in front of them, is known only when the last one is done),
// then copied behind the table: memory stays small whatever the inputs'
// size (a few blocks per thread, see block_deflate.h).  An input file read as an entry must
// look the same after its last byte as when it was opened (size and time of
// last change) and yield as many bytes as its size; else the bundle is
// refused ("changed while it was read").
//
// Refused before anything is written: a name, key or value holding a NUL, a
// property key of 32 bytes or more, an "msi" or "exe" property value that is
// not a plain Windows file name, "msi" and "exe" values that are equal when
// case is ignored, a file of 2^32 bytes or more, an input file that cannot be
// read or is a folder, a Java bundle's internal class given as a file, a
// bundle that would reach 2^31 bytes, a stub that already carries a payload
// (the reader would find the old one first), and a subsystem asked of a stub
// that is no PE image.  An entry from the EntrySource that yields other
// bytes than it promised (fewer or more, or failing its source's check) is
// refused when it is read.  With an identity, also an icon file that is not one
// and a stub that cannot take a new resource section (pe_resources.h).
bool WriteBundle(const std::string &stubPath, const std::string &outPath,
                 const BundleContents &contents, std::string *error);

// How the entries are compressed, and whether the work shows.  The bytes of
// a bundle depend on the level, never on the number of threads.
struct BundleWriteOptions {
  int threads = 0;  // threads that compress; 0: one per core
  int level = 9;    // zlib's level, 1 (fastest) to 9 (best)
  // A progress line on standard error while the entries are compressed, when
  // that is a terminal (progress_line.h).
  bool progress = false;
  // Where reading an input stops as too large for an entry: the format's
  // limit (an entry's size is 32 bits).  A device or a pipe, whose size is
  // not known before, is refused once this many bytes are read; tests lower
  // it to see an endless input stop without reading 4 GiB.
  uint64_t entryLimit = PAYLOAD_ENTRY_SIZE_LIMIT;
};
bool WriteBundle(const std::string &stubPath, const std::string &outPath,
                 const BundleContents &contents, const BundleWriteOptions &options,
                 std::string *error);

// ---- helpers shared by the tool and its tests ----

// Raw deflate (window bits -15) at level 9, memLevel 9, with the dictionary
// handed to deflateSetDictionary when it is not empty.  False only when zlib
// fails or the result would reach 2^31 bytes.
bool DeflateRaw(const unsigned char *data, uint64_t size, const unsigned char *dictionary,
                size_t dictionaryLength, std::vector<unsigned char> *out);

#endif  // SATCHEL_BUNDLE_WRITER_H
