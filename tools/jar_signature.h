// Checking the signatures of signed jars before they are packed.
#ifndef SATCHEL_JAR_SIGNATURE_H
#define SATCHEL_JAR_SIGNATURE_H

#include <map>
#include <string>
#include <vector>

// A jar's entries by name (the first of a name), pointing at their contents.
typedef std::map<std::string, const std::vector<unsigned char> *> JarEntries;

// True when the jar is unsigned, or signed and unchanged since: every
// signature block signs its signature file, the signature file matches the
// manifest, and every entry that the manifest lists with a digest has it.
// *blockName is then the signature block of the jar's signer ("" when
// unsigned).  False with *error naming the jar and what is wrong.
bool CheckJarSignatures(const std::string &jar, const JarEntries &entries, std::string *blockName,
                        std::string *error);

#endif  // SATCHEL_JAR_SIGNATURE_H
