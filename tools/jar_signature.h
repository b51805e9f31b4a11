// Checking the signatures of signed jars before they are packed.
#ifndef SATCHEL_JAR_SIGNATURE_H
#define SATCHEL_JAR_SIGNATURE_H

#include <map>
#include <string>
#include <vector>

#include "jar_archive.h"

// A jar's entry as the check reads it: its bytes in memory, or else its
// number in the archive, to be read from there.
struct JarEntryBytes {
  const std::vector<unsigned char> *content;  // null: read from the archive
  uint64_t index;
};
// A jar's entries by name (the first of a name).
typedef std::map<std::string, JarEntryBytes> JarEntries;

// The entries that CheckJarSignatures needs in memory: the manifest, and the
// signature files and blocks (META-INF/NAME.SF, .RSA, .DSA, .EC, in any case).
bool IsReadForSignatureCheck(const std::string &name);
// A signature file, META-INF/NAME.SF in any case: a jar that holds one is
// checked.
bool IsSignatureFileName(const std::string &name);

// True when the jar is unsigned, or signed and unchanged since: every
// signature block signs its signature file, the signature file matches the
// manifest, and every entry that the manifest lists with a digest has it.
// *blockName is then the signature block of the jar's signer ("" when
// unsigned).  False with *error naming the jar and what is wrong.
//
// The manifest, the signature files and the signature blocks must be given
// in memory; any other entry is read from the open archive, each once for
// all its digests, so that an entry of any size costs no memory.
bool CheckJarSignatures(const std::string &jar, JarArchive *archive, const JarEntries &entries,
                        std::string *blockName, std::string *error);

#endif  // SATCHEL_JAR_SIGNATURE_H
