// Writing bundles: a launcher stub, filler to the next 512-byte boundary, the
// header, the table of contents and the entries, each entry compressed at the
// best level with exactly the preset dictionary that its reader will set.
#ifndef SATCHEL_BUNDLE_WRITER_H
#define SATCHEL_BUNDLE_WRITER_H

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
bool WriteBundle(const std::string &stubPath, const std::string &outPath,
                 const BundleContents &contents, std::string *error);

#endif  // SATCHEL_BUNDLE_WRITER_H
