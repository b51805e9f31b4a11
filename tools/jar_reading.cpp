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

// Reads one entry of an open archive whole (one below 2 GiB: AddJarEntries
// refuses larger ones first).  False with *error set.
bool ReadWholeEntry(JarArchive *archive, uint64_t index, const JarEntryInfo &info,
                    std::vector<unsigned char> *content, std::string *error) {
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

// Entries held in memory: each at most kHeldEntryLimit bytes, all jars'
// together at most kHeldBytesLimit; the others stay in their jars.
const uint64_t kHeldEntryLimit = 1u << 20;
const uint64_t kHeldBytesLimit = 32u << 20;
// The bytes of a class file up to its major version.
const size_t kClassHeadSize = 8;

bool EndsWith(const std::string &text, const char *suffix) {
  size_t length = strlen(suffix);
  return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

// The first bytes of an entry, up to `size` (its end unchecked: the whole
// entry is checked when the bundle is written).
bool ReadEntryHead(JarArchive *archive, uint64_t index, uint64_t entrySize, size_t size,
                   std::vector<unsigned char> *head, std::string *error) {
  head->resize(entrySize < size ? (size_t)entrySize : size);
  if (head->empty()) return true;
  JarEntryStream *stream = OpenJarEntry(archive, index, error);
  if (!stream) return false;
  size_t done = 0;
  int64_t n = 1;
  while (done < head->size() && n > 0) {
    n = ReadJarEntry(stream, head->data() + done, head->size() - done, error);
    done += n > 0 ? (size_t)n : 0;
  }
  CloseJarEntry(stream);
  return done == head->size();
}

// Adds the entries of the open archive; see AddJar.
bool AddJarEntries(const std::string &jar, JarArchive *archive, BundleContents *contents,
                   ClassPathRecord *record, std::vector<ManifestAttribute> *manifest,
                   JarSources *sources, std::string *error) {
  size_t jarNumber = sources->jars.size();
  sources->jars.push_back(jar);
  int k = record->jarCount;
  std::string firstEntry;
  // This jar's entries: name -> index in contents->files, number in the jar.
  std::map<std::string, std::pair<size_t, uint64_t>> own;
  bool signatureFiles = false;  // META-INF/NAME.SF seen
  // Entries read whole for the checks but not held: name -> bytes.
  std::map<std::string, std::vector<unsigned char>> readForChecks;
  uint64_t count = JarEntryCount(archive);
  for (uint64_t i = 0; i < count; i++) {
    JarEntryInfo info;
    if (!StatJarEntry(archive, i, &info, error)) return false;
    const std::string &name = info.name;
    // Names of the bundle's own are no jar's (no class loader asks for them).
    if (name.empty() || name.compare(0, strlen(JAVA_BUNDLE_RESERVED_PREFIX), JAVA_BUNDLE_RESERVED_PREFIX) == 0)
      continue;
    if (info.size >= 0x80000000u) {
      *error = MessageText(TOOL_MSG_JAR_ENTRY_PROBLEM, jar.c_str(), name.c_str(),
                           TOOL_MSG_ZIP_TOO_LARGE);
      return false;
    }
    bool hold = info.size <= kHeldEntryLimit && sources->held + info.size <= kHeldBytesLimit;
    bool whole = hold || IsReadForSignatureCheck(name);
    std::vector<unsigned char> content;
    if (whole && !ReadWholeEntry(archive, i, info, &content, error)) return false;
    if (name == JAR_MANIFEST_NAME) *manifest = ManifestAttributes(content);
    std::string stored = StoredEntryName(record, k, name);
    if (firstEntry.empty()) firstEntry = stored;
    if (info.timeKind != 0 && !RecordEntryTime(record, stored, info.timeKind, info.timeValue)) {
      *error = MessageText(TOOL_MSG_JAR_ENTRY_PROBLEM, jar.c_str(), name.c_str(),
                           TOOL_MSG_NAME_TOO_LONG_FOR_INDEX);
      return false;
    }
    BundleFile file{stored, std::vector<unsigned char>()};
    bool first = own.insert({name, {contents->files.size(), i}}).second;
    signatureFiles = signatureFiles || IsSignatureFileName(name);
    if (hold) {
      sources->held += info.size;
      file.content = std::move(content);
    } else {
      file.sourceEntry = sources->entries.size();
      file.sourceSize = info.size;
      JarSources::Entry source{jarNumber, i, name, info.size, info.crc32, {}};
      if (EndsWith(name, ".class") &&
          !ReadEntryHead(archive, i, info.size, kClassHeadSize, &source.head, error))
        return false;
      sources->entries.push_back(std::move(source));
      if (whole && first) readForChecks[name] = std::move(content);
    }
    contents->files.push_back(std::move(file));
  }
  // A signed jar must be as it was signed; its signer's block is noted.  The
  // check reads what is not in memory from the archive.
  JarEntries entries;
  if (signatureFiles) {
    for (const auto &entry : own) {
      const BundleFile &file = contents->files[entry.second.first];
      auto read = readForChecks.find(entry.first);
      const std::vector<unsigned char> *content =
          file.sourceEntry == kNoEntrySource ? &file.content
          : read != readForChecks.end()      ? &read->second
                                             : nullptr;
      entries[entry.first] = JarEntryBytes{content, entry.second.second};
    }
  }
  std::string block;
  if (!CheckJarSignatures(jar, archive, entries, &block, error)) return false;
  std::string storedBlock =
      block.empty() ? std::string() : contents->files[own[block].first].name;
  std::string multiRelease = ManifestValue(*manifest, "Multi-Release");
  for (char &c : multiRelease) c = (char)tolower((unsigned char)c);
  uint32_t flags = multiRelease == "true" ? JAVA_BUNDLE_JAR_MULTI_RELEASE : 0;
  if (!RecordJar(record, PathFileName(jar), flags, firstEntry, storedBlock)) {
    *error = MessageText(TOOL_MSG_AT_FILE, jar.c_str(), TOOL_MSG_NAME_TOO_LONG_FOR_INDEX);
    return false;
  }
  return true;
}

// The EntrySource of JarSourceOf: each entry's jar is opened once, as its
// first entry comes, and stays open until the next jar's.
void *OpenSourcedEntry(void *context, const BundleFile &file, std::string *error) {
  JarSources *sources = static_cast<JarSources *>(context);
  const JarSources::Entry &entry = sources->entries[file.sourceEntry];
  const std::string &jar = sources->jars[entry.jar];
  if (!sources->open || sources->openJar != entry.jar) {
    CloseJarArchive(sources->open);
    sources->open = OpenJarArchive(jar, error);
    if (!sources->open) return nullptr;
    sources->openJar = entry.jar;
  }
  JarEntryInfo info;
  std::string ignored;
  if (entry.index >= JarEntryCount(sources->open) ||
      !StatJarEntry(sources->open, entry.index, &info, &ignored) || info.name != entry.name ||
      info.size != entry.size || info.crc32 != entry.crc32) {
    *error = MessageText(TOOL_MSG_JAR_CHANGED, jar.c_str(), entry.name.c_str());
    return nullptr;
  }
  return OpenJarEntry(sources->open, entry.index, error);
}

int64_t ReadSourcedEntry(void *entry, unsigned char *buffer, size_t size, std::string *error) {
  return ReadJarEntry(static_cast<JarEntryStream *>(entry), buffer, size, error);
}

void CloseSourcedEntry(void *entry) { CloseJarEntry(static_cast<JarEntryStream *>(entry)); }

}  // namespace

bool AddJar(const std::string &jar, BundleContents *contents, ClassPathRecord *record,
            std::vector<ManifestAttribute> *manifest, JarSources *sources, std::string *error) {
  manifest->clear();
  uint64_t size = 0;
  if (!CheckInputFile(jar, &size, error)) return false;
  JarArchive *archive = OpenJarArchive(jar, error);
  if (!archive) return false;
  bool added = AddJarEntries(jar, archive, contents, record, manifest, sources, error);
  CloseJarArchive(archive);
  return added;
}

const EntrySource *JarSourceOf(JarSources *sources) {
  sources->source = EntrySource{OpenSourcedEntry, ReadSourcedEntry, CloseSourcedEntry, sources};
  return &sources->source;
}

void CloseJarSources(JarSources *sources) {
  CloseJarArchive(sources->open);
  sources->open = nullptr;
}

const std::vector<unsigned char> &EntryHead(const BundleFile &file, const JarSources &sources) {
  return file.sourceEntry == kNoEntrySource ? file.content : sources.entries[file.sourceEntry].head;
}
