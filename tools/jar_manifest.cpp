// Reading a jar manifest's main section (the rules are in jar_manifest.h).
#include "jar_manifest.h"

#include <ctype.h>
#include <string.h>

// The attributes of a manifest's main section, values trimmed.  A line that
// starts with one space continues the previous one; the main section ends at
// the first empty line.
std::vector<ManifestAttribute> ManifestAttributes(const std::vector<unsigned char> &manifest) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i <= manifest.size(); i++) {
    char c = i < manifest.size() ? (char)manifest[i] : '\n';
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < manifest.size() && manifest[i + 1] == '\n') i++;
      if (line.empty()) break;  // end of the main section
      if (line[0] == ' ' && !lines.empty())
        lines.back() += line.substr(1);
      else
        lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  std::vector<ManifestAttribute> attributes;
  for (const std::string &entry : lines) {
    size_t colon = entry.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    size_t begin = colon + 1, end = entry.size();
    while (begin < end && (entry[begin] == ' ' || entry[begin] == '\t')) begin++;
    while (end > begin && (entry[end - 1] == ' ' || entry[end - 1] == '\t')) end--;
    attributes.push_back(ManifestAttribute{entry.substr(0, colon), entry.substr(begin, end - begin)});
  }
  return attributes;
}

// The value of the named attribute (names match ignoring case); empty when
// absent.
std::string ManifestValue(const std::vector<ManifestAttribute> &attributes, const char *name) {
  for (const ManifestAttribute &attribute : attributes) {
    if (attribute.name.size() != strlen(name)) continue;
    bool match = true;
    for (size_t k = 0; k < attribute.name.size() && match; k++)
      match = tolower((unsigned char)attribute.name[k]) == tolower((unsigned char)name[k]);
    if (match) return attribute.value;
  }
  return std::string();
}
