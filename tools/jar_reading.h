// Reading the jars of a Java application into a bundle's contents, in
// class-path order (pack-java).
//
// Memory: an entry is held in memory only while it is small and the entries
// held so far stay within a budget (kHeldEntryLimit, kHeldBytesLimit in
// jar_reading.cpp); every other entry is left in its jar and read from there
// while the bundle is written (BundleFile::sourceEntry, the EntrySource of
// JarSourceOf).  A jar's manifest and signature files are read whole while
// that jar is read.
#ifndef SATCHEL_JAR_READING_H
#define SATCHEL_JAR_READING_H

#include <stdint.h>

#include <string>
#include <vector>

#include "bundle_writer.h"
#include "class_path_index.h"
#include "jar_archive.h"
#include "jar_manifest.h"

// The entries left in their jars, by BundleFile::sourceEntry, and the jar
// that is open while the bundle is written.
struct JarSources {
  struct Entry {
    size_t jar;            // in `jars`
    uint64_t index;        // in the jar
    std::string name;      // in the jar
    uint64_t size;
    uint32_t crc32;
    std::vector<unsigned char> head;  // a class file's first 8 bytes (version)
  };
  std::vector<std::string> jars;
  std::vector<Entry> entries;
  uint64_t held = 0;  // bytes of entries held in memory so far

  JarArchive *open = nullptr;  // the jar being read while writing
  size_t openJar = 0;
  EntrySource source = EntrySource();
};

// Adds every entry of the jar (the next on the class path) to the contents,
// and the jar and its entries' times to the record: the first jar that holds
// a name gives the entry of that name, a later one's is stored under
// StoredEntryName.  Names of the bundle's own (JAVA_BUNDLE_RESERVED_PREFIX)
// and empty names are passed over.  A signed jar must be as it was signed.
// The attributes of the jar's own manifest go to *manifest (none without
// one).  Entries that are not held in memory go to *sources.  False with
// *error naming the jar and what is wrong.
bool AddJar(const std::string &jar, BundleContents *contents, ClassPathRecord *record,
            std::vector<ManifestAttribute> *manifest, JarSources *sources, std::string *error);

// The source that reads the entries left in their jars (for
// BundleContents::source).  Each is checked as it is read: the jar must
// still hold it under its number with the name, size and CRC-32 seen when
// it was added, and its bytes must have that size and CRC-32; else it is
// refused as changed.
const EntrySource *JarSourceOf(JarSources *sources);

// Closes the jar that writing left open.
void CloseJarSources(JarSources *sources);

// The first bytes of a file's content, held or in its jar (at least 8 of a
// class file when it has them).
const std::vector<unsigned char> &EntryHead(const BundleFile &file, const JarSources &sources);

#endif  // SATCHEL_JAR_READING_H
