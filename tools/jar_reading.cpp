// Reading jars with libzip: every entry, its time as Java's zip reader gives
// it, the manifest, and the check of a signed jar.
#include "jar_reading.h"

#include <ctype.h>
#include <string.h>
#include <time.h>
#include <zip.h>

#include <map>

#include "jar_signature.h"
#include "payload.h"
#include "shown_text.h"
#include "tool_files.h"
#include "tool_messages.h"

namespace {

// The text of a libzip error code.
std::string ZipErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

// The time that Java's zip reader gives an entry: the extended timestamp's
// modification time (central directory) when there is one, else the MS-DOS
// date and time, which libzip hands over converted to local time and which
// is turned back here.  Kind 0 when the archive gives none.
void EntryTime(zip_t *archive, zip_uint64_t index, const zip_stat_t &stat, int *kind, uint64_t *value) {
  *kind = 0;
  *value = 0;
  zip_uint16_t length = 0;
  const zip_uint8_t *extended =
      zip_file_extra_field_get_by_id(archive, index, 0x5455, 0, &length, ZIP_FL_CENTRAL);
  if (extended && length >= 5 && (extended[0] & 1)) {
    *kind = JAVA_BUNDLE_TIME_UNIX;
    *value = (uint64_t)extended[1] | (uint64_t)extended[2] << 8 | (uint64_t)extended[3] << 16 |
             (uint64_t)extended[4] << 24;
    return;
  }
  if (!(stat.valid & ZIP_STAT_MTIME)) return;
  struct tm local;
  time_t mtime = stat.mtime;
  if (!localtime_r(&mtime, &local) || local.tm_year < 80) return;
  *kind = JAVA_BUNDLE_TIME_DOS;
  *value = (uint64_t)(local.tm_year - 80) << 25 | (uint64_t)(local.tm_mon + 1) << 21 |
           (uint64_t)local.tm_mday << 16 | (uint64_t)local.tm_hour << 11 | (uint64_t)local.tm_min << 5 |
           (uint64_t)(local.tm_sec / 2);
}

// Reads one entry of an open archive.  False with *error set.
bool ReadZipEntry(zip_t *archive, zip_uint64_t index, const zip_stat_t &stat,
                  const std::string &jar, std::vector<unsigned char> *content,
                  std::string *error) {
  const char *problem = nullptr;
  if (!(stat.valid & ZIP_STAT_SIZE))
    problem = TOOL_MSG_ZIP_NO_SIZE;
  else if (stat.size >= 0x80000000u)
    problem = TOOL_MSG_ZIP_TOO_LARGE;
  zip_file_t *file = problem ? nullptr : zip_fopen_index(archive, index, 0);
  if (!file) {
    *error = MessageText(TOOL_MSG_JAR_ENTRY_PROBLEM, jar.c_str(), stat.name,
                         problem ? problem : zip_strerror(archive));
    return false;
  }
  content->resize(stat.size);
  zip_uint64_t done = 0;
  while (done < stat.size) {
    zip_int64_t n = zip_fread(file, content->data() + done, stat.size - done);
    if (n <= 0) {
      *error = MessageText(TOOL_MSG_JAR_ENTRY_PROBLEM, jar.c_str(), stat.name,
                           n < 0 ? zip_file_strerror(file) : TOOL_MSG_ZIP_ENDS_EARLY);
      zip_fclose(file);
      return false;
    }
    done += (zip_uint64_t)n;
  }
  // Reading to the end makes libzip compare the checksum; a longer entry than
  // stated would show here too.
  unsigned char extra;
  zip_int64_t more = zip_fread(file, &extra, 1);
  if (more != 0) {
    *error = MessageText(TOOL_MSG_JAR_ENTRY_PROBLEM, jar.c_str(), stat.name,
                         more < 0 ? zip_file_strerror(file) : TOOL_MSG_ZIP_TOO_LONG);
    zip_fclose(file);
    return false;
  }
  zip_fclose(file);
  return true;
}

}  // namespace

bool AddJar(const std::string &jar, BundleContents *contents, ClassPathRecord *record,
            std::vector<ManifestAttribute> *manifest, std::string *error) {
  manifest->clear();
  uint64_t size = 0;
  if (!CheckInputFile(jar, &size, error)) return false;
  int code = 0;
  zip_t *archive = zip_open(jar.c_str(), ZIP_RDONLY, &code);
  if (!archive) {
    *error = MessageText(TOOL_MSG_AT_FILE, jar.c_str(), ZipErrorText(code).c_str());
    return false;
  }
  int k = record->jarCount;
  std::string firstEntry;
  std::map<std::string, size_t> own;  // this jar's entries: name -> index in contents->files
  zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t i = 0; i < count; i++) {
    zip_stat_t stat;
    if (zip_stat_index(archive, (zip_uint64_t)i, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME)) {
      *error = MessageText(TOOL_MSG_JAR_ENTRY_AT, jar.c_str(), (long long)i, zip_strerror(archive));
      zip_close(archive);
      return false;
    }
    std::string name = stat.name;
    // Names of the bundle's own are no jar's (no class loader asks for them).
    if (name.empty() || name.compare(0, strlen(JAVA_BUNDLE_RESERVED_PREFIX), JAVA_BUNDLE_RESERVED_PREFIX) == 0)
      continue;
    std::vector<unsigned char> content;
    if (!ReadZipEntry(archive, (zip_uint64_t)i, stat, jar, &content, error)) {
      zip_close(archive);
      return false;
    }
    if (name == JAR_MANIFEST_NAME) *manifest = ManifestAttributes(content);
    std::string stored = StoredEntryName(record, k, name);
    if (firstEntry.empty()) firstEntry = stored;
    int kind;
    uint64_t value;
    EntryTime(archive, (zip_uint64_t)i, stat, &kind, &value);
    if (kind != 0 && !RecordEntryTime(record, stored, kind, value)) {
      *error = MessageText(TOOL_MSG_JAR_ENTRY_PROBLEM, jar.c_str(), name.c_str(),
                           TOOL_MSG_NAME_TOO_LONG_FOR_INDEX);
      zip_close(archive);
      return false;
    }
    own.insert({name, contents->files.size()});
    contents->files.push_back(BundleFile{stored, std::move(content)});
  }
  zip_close(archive);
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
