// What a Java bundle records of its jars beside their entries: the
// class-path index (JAVA_BUNDLE_INDEX_ENTRY) and the entries' times
// (JAVA_BUNDLE_TIMES_ENTRY), in the byte forms that java_bundle.h gives and
// InternalClassPath reads with java.io.DataInput.
#ifndef SATCHEL_CLASS_PATH_INDEX_H
#define SATCHEL_CLASS_PATH_INDEX_H

#include <stdint.h>

#include <set>
#include <string>
#include <vector>

#include "bundle_writer.h"

// The record so far, and the names that earlier jars gave already.
// What the bundle records of the jars beside their entries, and the names
// that earlier jars gave already.
struct ClassPathRecord {
  std::set<std::string> present;
  int jarCount = 0;
  std::vector<unsigned char> index;  // the jars, without the leading count
  uint32_t timeCount = 0;
  std::vector<unsigned char> times;  // the records, without the leading count
};

// Appends a u16, u32 or u64, big-endian (as java.io.DataInput reads them).
void PutBigEndian(std::vector<unsigned char> *out, uint64_t value, int bytes);

// Appends a string as java.io.DataOutput.writeUTF writes it: a u16 length,
// then modified UTF-8 (U+0000 as two bytes, a character beyond U+FFFF as two
// three-byte surrogates).  Bytes that are no UTF-8 are taken as they are.
// False when the text is longer than writeUTF allows.
bool PutJavaUtf(std::vector<unsigned char> *out, const std::string &text);

// The name under which an entry NAME of jar K is stored: NAME itself when no
// earlier jar gave that name (recorded in `present`), else
// JAVA_BUNDLE_RESERVED_PREFIX "K/NAME".
std::string StoredEntryName(ClassPathRecord *record, int jar, const std::string &name);

// The name in its jar of a stored entry: a later jar's copy loses its
// "/satchel/K/" prefix.
std::string NameInJar(const std::string &stored);

// Records the time of a stored entry (kind JAVA_BUNDLE_TIME_DOS or _UNIX);
// false when the name is too long for the record.
bool RecordEntryTime(ClassPathRecord *record, const std::string &stored, int kind, uint64_t value);

// Records the next jar: its file name, flags (JAVA_BUNDLE_JAR_MULTI_RELEASE),
// the first entry it gave and the stored name of its signature block (empty
// when unsigned).  False when a name is too long for the record.
bool RecordJar(ClassPathRecord *record, const std::string &fileName, uint32_t flags,
               const std::string &firstEntry, const std::string &signatureBlock);

// The two entries that close a Java bundle.
BundleFile ClassPathIndexEntry(const ClassPathRecord &record);
BundleFile EntryTimesEntry(const ClassPathRecord &record);

#endif  // SATCHEL_CLASS_PATH_INDEX_H
