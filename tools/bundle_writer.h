// Writing bundles: a launcher stub, filler to the next 512-byte boundary, the
// header, the table of contents and the entries, each entry compressed at the
// best level with exactly the preset dictionary that its reader will set.
#ifndef SATCHEL_BUNDLE_WRITER_H
#define SATCHEL_BUNDLE_WRITER_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

struct BundleFile {
  std::string name;                    // entry name, no NUL
  std::vector<unsigned char> content;  // uncompressed bytes
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
};

// The preset dictionary that the reader sets for `name` in a bundle of these
// contents (empty when it sets none).
std::vector<unsigned char> DictionaryForEntry(const BundleContents &contents,
                                              const std::string &name);

// Writes stub + payload to outPath through a temporary file in the same
// folder that is renamed into place only when complete.  False with *error
// naming the file and the reason; nothing is left under outPath then.
//
// Refused before anything is written: a name, key or value holding a NUL, a
// property key of 32 bytes or more, an "msi" or "exe" property value that is
// not a plain Windows file name, "msi" and "exe" values that are equal when
// case is ignored, a file of 2^32 bytes or more, a bundle that would reach
// 2^31 bytes, and a stub that already carries a payload (the reader would
// find the old one first).
bool WriteBundle(const std::string &stubPath, const std::string &outPath,
                 const BundleContents &contents, std::string *error);

// ---- helpers shared by the tool and its tests ----

// Raw deflate (window bits -15) at level 9, memLevel 9, with the dictionary
// handed to deflateSetDictionary when it is not empty.  False only when zlib
// fails or the result would reach 2^31 bytes.
bool DeflateRaw(const unsigned char *data, uint64_t size, const unsigned char *dictionary,
                size_t dictionaryLength, std::vector<unsigned char> *out);

// True when `name` (UTF-8) can be used unchanged as the last component of a
// Windows path: not empty, not "." or "..", no \ / : * ? " < > | and no
// control character, no trailing dot or space, no reserved device name (also
// not with an extension, as in "con.txt"), well-formed UTF-8 and at most 960
// UTF-16 code units.  Otherwise false with *reason saying why.
bool IsPlainWindowsFileName(const std::string &name, std::string *reason);

// True when the two UTF-8 names denote the same file on a file system that
// ignores case.
bool SameFileNameIgnoringCase(const std::string &a, const std::string &b);

// Reads a whole file (UTF-8 path).  False with *error naming it and the reason.
bool ReadWholeFile(const std::string &path, std::vector<unsigned char> *content,
                   std::string *error);

// An output file that appears under its name only when complete: the bytes go
// to a temporary file in the same folder, renamed into place by
// CommitAtomicOutput; AbortAtomicOutput (or a failed write or commit) removes
// it.  Errors name the final path and the reason.
struct AtomicOutput {
  std::string path;      // the final name
  std::string tempPath;  // where the bytes go until the commit
  FILE *file = nullptr;
};
bool BeginAtomicOutput(const std::string &path, AtomicOutput *output, std::string *error);
bool WriteAtomicOutput(AtomicOutput *output, const void *data, size_t size, std::string *error);
bool CommitAtomicOutput(AtomicOutput *output, std::string *error);
void AbortAtomicOutput(AtomicOutput *output);

// Opens a file for binary reading (UTF-8 path); null with errno set.
FILE *OpenFileForReading(const std::string &path);

// The file-name part of a path (behind the last '/', and on Windows also
// behind the last '\\' or drive colon).
std::string PathFileName(const std::string &path);

#endif  // SATCHEL_BUNDLE_WRITER_H
