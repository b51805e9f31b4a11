// Reading jars (jar_archive.h): every entry, its time as Java's zip reader
// gives it, the manifest, and the check of a signed jar.
#include "jar_reading.h"

#include <ctype.h>
#include <string.h>

#include <map>

#include "jar_archive.h"
#include "jar_signature.h"
#include "payload.h"
#include "shown_text.h"
#include "tool_files.h"
#include "tool_messages.h"

namespace {

// Reads one entry of an open archive whole.  False with *error set.
bool ReadWholeEntry(JarArchive *archive, uint64_t index, const JarEntryInfo &info,
                    const std::string &jar, std::vector<unsigned char> *content,
                    std::string *error) {
  if (info.size >= 0x80000000u) {
    *error = MessageText(TOOL_MSG_JAR_ENTRY_PROBLEM, jar.c_str(), info.name.c_str(),
                         TOOL_MSG_ZIP_TOO_LARGE);
    return false;
  }
  JarEntryStream *stream = OpenJarEntry(archive, index, error);
  if (!stream) return false;
  content->resize(info.size);
  uint64_t done = 0;
  int64_t n = 0;
  do {
    // Past the stated size, to have the length and checksum checked.
    unsigned char extra;
    n = done < info.size ? ReadJarEntry(stream, content->data() + done, info.size - done, error)
                         : ReadJarEntry(stream, &extra, 1, error);
    done += n > 0 ? (uint64_t)n : 0;
  } while (n > 0);
  CloseJarEntry(stream);
  return n == 0;
}

}  // namespace

bool AddJar(const std::string &jar, BundleContents *contents, ClassPathRecord *record,
            std::vector<ManifestAttribute> *manifest, std::string *error) {
  manifest->clear();
  uint64_t size = 0;
  if (!CheckInputFile(jar, &size, error)) return false;
  JarArchive *archive = OpenJarArchive(jar, error);
  if (!archive) return false;
  int k = record->jarCount;
  std::string firstEntry;
  std::map<std::string, size_t> own;  // this jar's entries: name -> index in contents->files
  uint64_t count = JarEntryCount(archive);
  for (uint64_t i = 0; i < count; i++) {
    JarEntryInfo info;
    if (!StatJarEntry(archive, i, &info, error)) {
      CloseJarArchive(archive);
      return false;
    }
    const std::string &name = info.name;
    // Names of the bundle's own are no jar's (no class loader asks for them).
    if (name.empty() || name.compare(0, strlen(JAVA_BUNDLE_RESERVED_PREFIX), JAVA_BUNDLE_RESERVED_PREFIX) == 0)
      continue;
    std::vector<unsigned char> content;
    if (!ReadWholeEntry(archive, i, info, jar, &content, error)) {
      CloseJarArchive(archive);
      return false;
    }
    if (name == JAR_MANIFEST_NAME) *manifest = ManifestAttributes(content);
    std::string stored = StoredEntryName(record, k, name);
    if (firstEntry.empty()) firstEntry = stored;
    if (info.timeKind != 0 && !RecordEntryTime(record, stored, info.timeKind, info.timeValue)) {
      *error = MessageText(TOOL_MSG_JAR_ENTRY_PROBLEM, jar.c_str(), name.c_str(),
                           TOOL_MSG_NAME_TOO_LONG_FOR_INDEX);
      CloseJarArchive(archive);
      return false;
    }
    own.insert({name, contents->files.size()});
    contents->files.push_back(BundleFile{stored, std::move(content)});
  }
  CloseJarArchive(archive);
  // A signed jar must be as it was signed; its signer's block is noted.
  JarEntries entries;
  for (const auto &entry : own) entries[entry.first] = &contents->files[entry.second].content;
  std::string block;
  if (!CheckJarSignatures(jar, entries, &block, error)) return false;
  std::string storedBlock = block.empty() ? std::string() : contents->files[own[block]].name;
  std::string multiRelease = ManifestValue(*manifest, "Multi-Release");
  for (char &c : multiRelease) c = (char)tolower((unsigned char)c);
  uint32_t flags = multiRelease == "true" ? JAVA_BUNDLE_JAR_MULTI_RELEASE : 0;
  if (!RecordJar(record, PathFileName(jar), flags, firstEntry, storedBlock)) {
    *error = MessageText(TOOL_MSG_AT_FILE, jar.c_str(), TOOL_MSG_NAME_TOO_LONG_FOR_INDEX);
    return false;
  }
  return true;
}
