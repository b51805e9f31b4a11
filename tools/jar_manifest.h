// A jar's manifest, as Java's class path and java -jar read it: the
// attributes of its main section.
#ifndef SATCHEL_JAR_MANIFEST_H
#define SATCHEL_JAR_MANIFEST_H

#include <string>
#include <vector>

#define JAR_MANIFEST_NAME "META-INF/MANIFEST.MF"

// One attribute of a manifest's main section.
struct ManifestAttribute {
  std::string name;
  std::string value;
};

// The attributes of the main section in their order, values trimmed of
// spaces and tabs.  A line that starts with one space continues the one
// before; CR, LF and CR LF end lines; the main section ends at the first
// empty line; a line without a colon, or with nothing in front of it, is
// passed over.
std::vector<ManifestAttribute> ManifestAttributes(const std::vector<unsigned char> &manifest);

// The value of the first attribute of that name (names match when case is
// ignored); empty when there is none.
std::string ManifestValue(const std::vector<ManifestAttribute> &attributes, const char *name);

#endif  // SATCHEL_JAR_MANIFEST_H
