// Reading zip archives (jars) for pack-java: the entries' names, sizes,
// checksums and times, and each entry's bytes as a stream.  Implemented over
// libzip (jar_archive_libzip.cpp) where the build has it.
//
// Every *error is the whole text that the tool shows: it names the jar (and
// the entry) and what is wrong.
#ifndef SATCHEL_JAR_ARCHIVE_H
#define SATCHEL_JAR_ARCHIVE_H

#include <stddef.h>
#include <stdint.h>

#include <string>

struct JarArchive;
struct JarEntryStream;

struct JarEntryInfo {
  std::string name;
  uint64_t size = 0;    // uncompressed bytes
  uint32_t crc32 = 0;   // of the uncompressed bytes
  // The time that Java's zip reader gives the entry: JAVA_BUNDLE_TIME_UNIX
  // (the extended timestamp's modification time in the central directory)
  // when there is one, else JAVA_BUNDLE_TIME_DOS (the MS-DOS date and time as
  // stored), 0 when the archive gives none.
  int timeKind = 0;
  uint64_t timeValue = 0;
};

// Opens the archive and reads its central directory; null with *error set.
JarArchive *OpenJarArchive(const std::string &path, std::string *error);
void CloseJarArchive(JarArchive *archive);  // null is fine

// The number of entries, counting those of any name.
uint64_t JarEntryCount(JarArchive *archive);

// What the central directory says of entry `index` (0 to count - 1).  False
// with *error set when the entry cannot be read or gives no name or size.
bool StatJarEntry(JarArchive *archive, uint64_t index, JarEntryInfo *info, std::string *error);

// Starts reading entry `index` uncompressed; null with *error set.  Several
// streams of one archive may be open at once; the archive must outlive them.
JarEntryStream *OpenJarEntry(JarArchive *archive, uint64_t index, std::string *error);

// Reads up to `size` bytes of the entry into `buffer`: how many (at least 1
// while the entry has bytes left), 0 at its end once its length and CRC-32
// have been found as the central directory states them, -1 with *error set
// (the entry is damaged, shorter or longer than stated, or reading failed).
int64_t ReadJarEntry(JarEntryStream *stream, unsigned char *buffer, size_t size,
                     std::string *error);

void CloseJarEntry(JarEntryStream *stream);  // null is fine

#endif  // SATCHEL_JAR_ARCHIVE_H
