// Reading the jars of a Java application into a bundle's contents, in
// class-path order (pack-java).
#ifndef SATCHEL_JAR_READING_H
#define SATCHEL_JAR_READING_H

#include <string>
#include <vector>

#include "bundle_writer.h"
#include "class_path_index.h"
#include "jar_manifest.h"

// Adds every entry of the jar (the next on the class path) to the contents,
// and the jar and its entries' times to the record: the first jar that holds
// a name gives the entry of that name, a later one's is stored under
// StoredEntryName.  Names of the bundle's own (JAVA_BUNDLE_RESERVED_PREFIX)
// and empty names are passed over.  A signed jar must be as it was signed.
// The attributes of the jar's own manifest go to *manifest (none without
// one).  False with *error naming the jar and what is wrong.
bool AddJar(const std::string &jar, BundleContents *contents, ClassPathRecord *record,
            std::vector<ManifestAttribute> *manifest, std::string *error);

#endif  // SATCHEL_JAR_READING_H
