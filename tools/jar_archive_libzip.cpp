// Jars read with libzip.  libzip checks each entry's CRC-32 as it is read to
// its end; the length is counted here.
#include "jar_archive.h"

#include <stdlib.h>
#include <time.h>
#include <zip.h>

#include "payload.h"
#include "shown_text.h"
#include "tool_messages.h"

struct JarArchive {
  zip_t *zip;
  std::string path;
};

struct JarEntryStream {
  zip_file_t *file;
  const JarArchive *archive;
  std::string name;
  uint64_t size;  // as the central directory states it
  uint64_t done;  // bytes handed out so far
};

namespace {

// The text of a libzip error code.
std::string ZipErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

// The extended timestamp's modification time when the central directory has
// one, else the MS-DOS date and time, which libzip hands over converted to
// local time and which is turned back here.
void EntryTime(zip_t *archive, zip_uint64_t index, const zip_stat_t &stat, int *kind,
               uint64_t *value) {
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
           (uint64_t)local.tm_mday << 16 | (uint64_t)local.tm_hour << 11 |
           (uint64_t)local.tm_min << 5 | (uint64_t)(local.tm_sec / 2);
}

// The stream's entry is damaged: *error says how.
int64_t StreamFailed(JarEntryStream *stream, const char *problem, std::string *error) {
  *error = MessageText(TOOL_MSG_JAR_ENTRY_PROBLEM, stream->archive->path.c_str(),
                       stream->name.c_str(), problem);
  return -1;
}

}  // namespace

JarArchive *OpenJarArchive(const std::string &path, std::string *error) {
  // libzip turns an entry's MS-DOS date and time into a time_t through the
  // local time zone, and EntryTime turns it back: in a zone with summer time
  // an hour that the clocks skip (02:30 on the morning they go forward) came
  // back an hour later, so that the bundle depended on where it was packed.
  // In UTC the round trip gives the fields as stored.  The tool uses local
  // time for nothing else.
  static bool inUtc = false;
  if (!inUtc) {
    setenv("TZ", "UTC0", 1);
    tzset();
    inUtc = true;
  }
  int code = 0;
  zip_t *zip = zip_open(path.c_str(), ZIP_RDONLY, &code);
  if (!zip) {
    *error = MessageText(TOOL_MSG_AT_FILE, path.c_str(), ZipErrorText(code).c_str());
    return nullptr;
  }
  return new JarArchive{zip, path};
}

void CloseJarArchive(JarArchive *archive) {
  if (!archive) return;
  zip_discard(archive->zip);
  delete archive;
}

uint64_t JarEntryCount(JarArchive *archive) {
  zip_int64_t count = zip_get_num_entries(archive->zip, 0);
  return count > 0 ? (uint64_t)count : 0;
}

bool StatJarEntry(JarArchive *archive, uint64_t index, JarEntryInfo *info, std::string *error) {
  zip_stat_t stat;
  if (zip_stat_index(archive->zip, index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME)) {
    *error = MessageText(TOOL_MSG_JAR_ENTRY_AT, archive->path.c_str(), (long long)index,
                         zip_strerror(archive->zip));
    return false;
  }
  info->name = stat.name;
  if (!(stat.valid & ZIP_STAT_SIZE)) {
    *error = MessageText(TOOL_MSG_JAR_ENTRY_PROBLEM, archive->path.c_str(), stat.name,
                         TOOL_MSG_ZIP_NO_SIZE);
    return false;
  }
  info->size = stat.size;
  info->crc32 = (stat.valid & ZIP_STAT_CRC) ? stat.crc : 0;
  EntryTime(archive->zip, index, stat, &info->timeKind, &info->timeValue);
  return true;
}

JarEntryStream *OpenJarEntry(JarArchive *archive, uint64_t index, std::string *error) {
  JarEntryInfo info;
  if (!StatJarEntry(archive, index, &info, error)) return nullptr;
  zip_file_t *file = zip_fopen_index(archive->zip, index, 0);
  if (!file) {
    *error = MessageText(TOOL_MSG_JAR_ENTRY_PROBLEM, archive->path.c_str(), info.name.c_str(),
                         zip_strerror(archive->zip));
    return nullptr;
  }
  return new JarEntryStream{file, archive, info.name, info.size, 0};
}

int64_t ReadJarEntry(JarEntryStream *stream, unsigned char *buffer, size_t size,
                     std::string *error) {
  if (stream->done == stream->size) {
    // Reading past the stated end makes libzip compare the checksum; a longer
    // entry than stated shows here too.
    unsigned char extra;
    zip_int64_t more = zip_fread(stream->file, &extra, 1);
    if (more == 0) return 0;
    return StreamFailed(stream, more < 0 ? zip_file_strerror(stream->file) : TOOL_MSG_ZIP_TOO_LONG,
                        error);
  }
  uint64_t left = stream->size - stream->done;
  if (size > left) size = (size_t)left;
  zip_int64_t n = zip_fread(stream->file, buffer, size);
  if (n <= 0)
    return StreamFailed(stream, n < 0 ? zip_file_strerror(stream->file) : TOOL_MSG_ZIP_ENDS_EARLY,
                        error);
  stream->done += (uint64_t)n;
  return n;
}

void CloseJarEntry(JarEntryStream *stream) {
  if (!stream) return;
  zip_fclose(stream->file);
  delete stream;
}
