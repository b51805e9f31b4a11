// Reading jars with zlib alone, where no zip library is at hand (the Windows
// builds of the tool).  A zip archive ends with its central directory: one
// record per entry (name, method, CRC-32, sizes, MS-DOS time, extra fields,
// where its local header starts), found through the end record behind it.
//
//   [local header 1][data 1] ... [local header n][data n]
//   [central directory: n records][zip64 end record, locator]
//   [end record][comment]
//
// Everything is taken from the central directory, as Java's zip reader takes
// it: the local header only tells where the data starts (its own sizes are
// zero when a data descriptor follows the data, and are not needed).  The
// work and the memory are bounded by the archive's size on any input: the
// end record is looked for in the last 64 KiB and 22 bytes only, the entry
// count must fit the central directory, no two entries' data may overlap, an
// entry never yields more than its stated size, and inflate stops when the
// entry's compressed bytes are used up.
#include "jar_archive.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <vector>

#include "java_bundle.h"
#include "payload.h"
#include "shown_text.h"
#include "tool_files.h"
#include "tool_messages.h"

namespace {

const uint32_t kLocalSignature = 0x04034b50;        // "PK\3\4"
const uint32_t kCentralSignature = 0x02014b50;      // "PK\1\2"
const uint32_t kEndSignature = 0x06054b50;          // "PK\5\6"
const uint32_t kZip64EndSignature = 0x06064b50;     // "PK\6\6"
const uint32_t kZip64LocatorSignature = 0x07064b50; // "PK\6\7"
const size_t kLocalHeaderSize = 30;
const size_t kCentralHeaderSize = 46;
const size_t kEndSize = 22;
const size_t kZip64EndSize = 56;
const size_t kZip64LocatorSize = 20;
const size_t kMaxCommentSize = 0xFFFF;
const uint16_t kExtraZip64 = 0x0001;
const uint16_t kExtraTimestamp = 0x5455;
const uint16_t kFlagEncrypted = 0x0001;
const uint16_t kFlagUtf8 = 0x0800;
const uint16_t kMethodStored = 0;
const uint16_t kMethodDeflated = 8;
const size_t kInputBufferSize = 65536;

// Zip's integers are little-endian, as the payload's: its readers serve, and
// zip64's 8-byte fields are two of them.
uint64_t ReadU64LE(const unsigned char *p) { return ReadU32LE(p) | (uint64_t)ReadU32LE(p + 4) << 32; }

// Days since 1970-01-01 of a proleptic Gregorian date (month 1 to 12; the day
// may run past the month's end, it counts on).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  int64_t yearOfEra = year - era * 400;
  int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, int64_t *year, int64_t *month, int64_t *day) {
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  int64_t dayOfEra = days - era * 146097;
  int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  int64_t mp = (5 * dayOfYear + 2) / 153;
  *day = dayOfYear - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = yearOfEra + era * 400 + (*month <= 2);
}

// The MS-DOS date and time as the entry's time: fields out of range (month 0,
// day 0, second 60...) carry over into the next field, as the C library's
// mktime and Java's lenient calendar carry them; a time before 1980 after
// that is no time (kind 0).
void DosTime(uint16_t time, uint16_t date, int *kind, uint64_t *value) {
  int64_t year = 1980 + (date >> 9), month = ((date >> 5) & 15) - 1, day = date & 31;
  int64_t seconds = (int64_t)(time >> 11) * 3600 + ((time >> 5) & 63) * 60 + (time & 31) * 2;
  year += month >= 0 ? month / 12 : -1;
  month = ((month % 12) + 12) % 12;
  int64_t total = (DaysFromCivil(year, month + 1, 1) + day - 1) * 86400 + seconds;
  int64_t days = total >= 0 ? total / 86400 : -((-total + 86399) / 86400);
  int64_t rest = total - days * 86400;
  CivilFromDays(days, &year, &month, &day);
  *kind = 0;
  *value = 0;
  if (year < 1980) return;
  *kind = JAVA_BUNDLE_TIME_DOS;
  *value = (uint64_t)(year - 1980) << 25 | (uint64_t)month << 21 | (uint64_t)day << 16 |
           (uint64_t)(rest / 3600) << 11 | (uint64_t)(rest / 60 % 60) << 5 | (uint64_t)(rest % 60 / 2);
}

struct CentralRecord {
  size_t nameAt = 0;        // in JarArchive::central
  uint16_t nameLength = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t size = 0;
  uint64_t localOffset = 0;
  uint64_t limit = 0;  // where the next entry's local header or the central directory starts
  int timeKind = 0;
  uint64_t timeValue = 0;
};

bool ReadAt(FILE *file, uint64_t offset, void *buffer, size_t size) {
  return SeekFile(file, (int64_t)offset) && fread(buffer, 1, size, file) == size;
}

}  // namespace

// An open archive: its file, and the central directory read whole and
// indexed once.
struct JarArchive {
  std::string path;
  FILE *file = nullptr;
  uint64_t fileSize = 0;
  std::vector<unsigned char> central;
  std::vector<CentralRecord> entries;
};

// One entry being read: where its next compressed byte is, how much of it
// is left, the inflate state, and the CRC-32 of what was handed out.
struct JarEntryStream {
  JarArchive *archive = nullptr;
  const CentralRecord *record = nullptr;
  std::string name;
  uint64_t position = 0;       // file offset of the next compressed byte
  uint64_t compressedLeft = 0;
  uint64_t produced = 0;
  uint32_t crc = 0;
  bool inflating = false;      // a deflated entry (stream initialised)
  bool streamEnded = false;
  bool failed = false;
  bool finished = false;
  z_stream stream;
  std::vector<unsigned char> input;
};

namespace {

bool ArchiveError(JarArchive *archive, const char *problem, std::string *error) {
  *error = MessageText(TOOL_MSG_AT_FILE, archive->path.c_str(), problem);
  return false;
}

// The end record: the last "PK\5\6" of the archive's tail whose comment
// reaches the archive's end or (bytes padded behind the comment) whose
// central directory starts where it says.  *at is its offset.
bool FindEndRecord(JarArchive *archive, uint64_t *at, std::string *error) {
  if (archive->fileSize < kEndSize) return ArchiveError(archive, TOOL_MSG_ZIP_NO_END, error);
  size_t tail = (size_t)std::min<uint64_t>(archive->fileSize, kEndSize + kMaxCommentSize);
  uint64_t tailStart = archive->fileSize - tail;
  std::vector<unsigned char> bytes(tail);
  if (!ReadAt(archive->file, tailStart, bytes.data(), tail))
    return ArchiveError(archive, TOOL_MSG_ZIP_UNREADABLE, error);
  for (size_t i = tail - kEndSize + 1; i-- > 0;) {
    if (ReadU32LE(&bytes[i]) != kEndSignature) continue;
    *at = tailStart + i;
    if (i + kEndSize + ReadU16LE(&bytes[i + 20]) == tail) return true;
    uint64_t centralOffset = ReadU32LE(&bytes[i + 16]);
    unsigned char signature[4];
    if (centralOffset + 4 <= *at && ReadAt(archive->file, centralOffset, signature, 4) &&
        ReadU32LE(signature) == kCentralSignature)
      return true;
  }
  return ArchiveError(archive, TOOL_MSG_ZIP_NO_END, error);
}

// The extra fields of a central record, `length` bytes at `p`: a field's
// data by id (the first of that id), or null.  False when the fields do not
// fit their length (up to three bytes of zeros behind the last are padding).
bool ExtraFieldsWellFormed(const unsigned char *p, size_t length) {
  size_t at = 0;
  while (length - at >= 4) {
    size_t size = ReadU16LE(p + at + 2);
    if (size > length - at - 4) return false;
    at += 4 + size;
  }
  for (; at < length; at++)
    if (p[at] != 0) return false;
  return true;
}

const unsigned char *ExtraField(const unsigned char *p, size_t length, uint16_t id, size_t *size) {
  size_t at = 0;
  while (length - at >= 4) {
    size_t fieldSize = ReadU16LE(p + at + 2);
    if (ReadU16LE(p + at) == id) {
      *size = fieldSize;
      return p + at + 4;
    }
    at += 4 + fieldSize;
  }
  return nullptr;
}

bool WellFormedUtf8(const unsigned char *text, size_t length) {
  size_t at = 0;
  while (at < length) {
    size_t used = 0;
    if (DecodeUtf8(text + at, length - at, &used) == UTF8_ILL_FORMED) return false;
    at += used;
  }
  return true;
}

// Reads one central record at central[*at], moving *at behind it.
bool ReadCentralRecord(JarArchive *archive, size_t *at, CentralRecord *record, std::string *error) {
  const std::vector<unsigned char> &central = archive->central;
  if (central.size() - *at < kCentralHeaderSize || ReadU32LE(&central[*at]) != kCentralSignature)
    return ArchiveError(archive, TOOL_MSG_ZIP_BAD_CENTRAL, error);
  const unsigned char *p = &central[*at];
  size_t nameLength = ReadU16LE(p + 28), extraLength = ReadU16LE(p + 30), commentLength = ReadU16LE(p + 32);
  if (central.size() - *at - kCentralHeaderSize < nameLength + extraLength + commentLength)
    return ArchiveError(archive, TOOL_MSG_ZIP_BAD_CENTRAL, error);
  record->flags = ReadU16LE(p + 8);
  record->method = ReadU16LE(p + 10);
  record->crc = ReadU32LE(p + 16);
  record->compressedSize = ReadU32LE(p + 20);
  record->size = ReadU32LE(p + 24);
  record->localOffset = ReadU32LE(p + 42);
  record->nameAt = *at + kCentralHeaderSize;
  record->nameLength = (uint16_t)nameLength;
  const unsigned char *name = p + kCentralHeaderSize;
  std::string shownName = Shown(std::string((const char *)name, nameLength));
  auto entryError = [&](const char *problem) {
    *error = MessageText(TOOL_MSG_JAR_ENTRY_PROBLEM, archive->path.c_str(), shownName.c_str(), problem);
    return false;
  };
  if (memchr(name, 0, nameLength)) return entryError(TOOL_MSG_ZIP_NAME_NUL);
  if (!WellFormedUtf8(name, nameLength))
    return entryError((record->flags & kFlagUtf8) ? TOOL_MSG_ZIP_NAME_NOT_UTF8 : TOOL_MSG_ZIP_NAME_NOT_UTF8_NOR_FLAGGED);
  const unsigned char *extra = name + nameLength;
  if (!ExtraFieldsWellFormed(extra, extraLength)) return entryError(TOOL_MSG_ZIP_BAD_EXTRA);
  // Sizes and offset too large for 32 bits are in the zip64 field, in this
  // order, each present only when its 32-bit field is all ones.
  size_t zip64Size = 0;
  const unsigned char *zip64 = ExtraField(extra, extraLength, kExtraZip64, &zip64Size);
  size_t zip64At = 0;
  for (uint64_t *field : {&record->size, &record->compressedSize, &record->localOffset}) {
    if (*field != 0xFFFFFFFFu) continue;
    if (!zip64 || zip64Size - zip64At < 8) return entryError(TOOL_MSG_ZIP_BAD_ZIP64);
    *field = ReadU64LE(zip64 + zip64At);
    zip64At += 8;
  }
  // The extended timestamp's modification time when it has one, else the
  // MS-DOS date and time.
  size_t stampSize = 0;
  const unsigned char *stamp = ExtraField(extra, extraLength, kExtraTimestamp, &stampSize);
  if (stamp && stampSize >= 5 && (stamp[0] & 1)) {
    record->timeKind = JAVA_BUNDLE_TIME_UNIX;
    record->timeValue = ReadU32LE(stamp + 1);
  } else {
    DosTime(ReadU16LE(p + 12), ReadU16LE(p + 14), &record->timeKind, &record->timeValue);
  }
  *at += kCentralHeaderSize + nameLength + extraLength + commentLength;
  return true;
}

// Reads the central directory that the end record at `endAt` describes and
// indexes its records.
bool ReadCentralDirectory(JarArchive *archive, uint64_t endAt, std::string *error) {
  unsigned char end[kEndSize];
  if (!ReadAt(archive->file, endAt, end, kEndSize)) return ArchiveError(archive, TOOL_MSG_ZIP_UNREADABLE, error);
  uint64_t count = ReadU16LE(end + 10);
  uint64_t centralSize = ReadU32LE(end + 12);
  uint64_t centralOffset = ReadU32LE(end + 16);
  uint64_t centralEnd = endAt;  // nothing of the directory lies behind this
  if (ReadU16LE(end + 4) != 0 || ReadU16LE(end + 6) != 0 || ReadU16LE(end + 8) != ReadU16LE(end + 10))
    return ArchiveError(archive, TOOL_MSG_ZIP_SPANNED, error);
  // A zip64 locator right before the end record points at the zip64 end
  // record, whose fields are the ones that count.
  unsigned char locator[kZip64LocatorSize];
  if (endAt >= kZip64LocatorSize && ReadAt(archive->file, endAt - kZip64LocatorSize, locator, kZip64LocatorSize) &&
      ReadU32LE(locator) == kZip64LocatorSignature) {
    uint64_t zip64At = ReadU64LE(locator + 8);
    unsigned char zip64[kZip64EndSize];
    if (zip64At > endAt - kZip64LocatorSize || endAt - kZip64LocatorSize - zip64At < kZip64EndSize ||
        !ReadAt(archive->file, zip64At, zip64, kZip64EndSize) || ReadU32LE(zip64) != kZip64EndSignature)
      return ArchiveError(archive, TOOL_MSG_ZIP_BAD_ZIP64_END, error);
    if (ReadU32LE(zip64 + 16) != 0 || ReadU32LE(zip64 + 20) != 0 || ReadU64LE(zip64 + 24) != ReadU64LE(zip64 + 32))
      return ArchiveError(archive, TOOL_MSG_ZIP_SPANNED, error);
    count = ReadU64LE(zip64 + 32);
    centralSize = ReadU64LE(zip64 + 40);
    centralOffset = ReadU64LE(zip64 + 48);
    centralEnd = zip64At;
  }
  if (centralOffset > centralEnd || centralEnd - centralOffset < centralSize)
    return ArchiveError(archive, TOOL_MSG_ZIP_CENTRAL_OUTSIDE, error);
  if (count > centralSize / kCentralHeaderSize) return ArchiveError(archive, TOOL_MSG_ZIP_COUNT_LIES, error);
  archive->central.resize((size_t)centralSize);
  if (!ReadAt(archive->file, centralOffset, archive->central.data(), (size_t)centralSize))
    return ArchiveError(archive, TOOL_MSG_ZIP_UNREADABLE, error);
  archive->entries.resize((size_t)count);
  size_t at = 0;
  for (CentralRecord &record : archive->entries)
    if (!ReadCentralRecord(archive, &at, &record, error)) return false;
  // Each entry's data ends where the next local header (in file order) or
  // the central directory starts; two entries at one offset share their
  // bytes, which no writer does (it makes a small archive inflate to a
  // large one).
  std::vector<CentralRecord *> order;
  for (CentralRecord &record : archive->entries) order.push_back(&record);
  std::sort(order.begin(), order.end(),
            [](const CentralRecord *a, const CentralRecord *b) { return a->localOffset < b->localOffset; });
  for (size_t i = 0; i < order.size(); i++) {
    uint64_t limit = i + 1 < order.size() ? order[i + 1]->localOffset : centralOffset;
    if (order[i]->localOffset >= limit) {
      const CentralRecord *record = order[i];
      *error = MessageText(TOOL_MSG_JAR_ENTRY_PROBLEM, archive->path.c_str(),
                           Shown(std::string((const char *)&archive->central[record->nameAt], record->nameLength)).c_str(),
                           limit == centralOffset ? TOOL_MSG_ZIP_DATA_OUTSIDE : TOOL_MSG_ZIP_OVERLAP);
      return false;
    }
    order[i]->limit = limit;
  }
  return true;
}

bool EntryFailed(JarEntryStream *entry, const char *problem, std::string *error) {
  entry->failed = true;
  *error = MessageText(TOOL_MSG_JAR_ENTRY_PROBLEM, entry->archive->path.c_str(), Shown(entry->name).c_str(), problem);
  return false;
}

// Refills the input buffer from the entry's compressed bytes.
bool FillInput(JarEntryStream *entry, std::string *error) {
  size_t size = (size_t)std::min<uint64_t>(entry->compressedLeft, entry->input.size());
  if (!ReadAt(entry->archive->file, entry->position, entry->input.data(), size))
    return EntryFailed(entry, TOOL_MSG_ZIP_UNREADABLE, error);
  entry->position += size;
  entry->compressedLeft -= size;
  entry->stream.next_in = entry->input.data();
  entry->stream.avail_in = (uInt)size;
  return true;
}

// Inflates into `out` (`size` bytes, 0 to look for the stream's end) until
// it is full or the stream ends.  The bytes made.
int64_t InflateInto(JarEntryStream *entry, unsigned char *out, size_t size, std::string *error) {
  unsigned char probe;
  entry->stream.next_out = size ? out : &probe;
  entry->stream.avail_out = size ? (uInt)size : 1;
  while (entry->stream.avail_out > 0 && !entry->streamEnded) {
    if (entry->stream.avail_in == 0 && entry->compressedLeft > 0 && !FillInput(entry, error)) return -1;
    // With no input left, inflate may still hand out what it holds.
    int status = inflate(&entry->stream, Z_NO_FLUSH);
    if (status == Z_STREAM_END) {
      entry->streamEnded = true;
    } else if (status == Z_BUF_ERROR && entry->stream.avail_in == 0 && entry->compressedLeft == 0) {
      EntryFailed(entry, TOOL_MSG_ZIP_ENDS_EARLY, error);
      return -1;
    } else if (status != Z_OK) {
      // Z_BUF_ERROR with input and room left: no progress is possible.
      std::string problem = MessageText(TOOL_MSG_ZIP_DAMAGED, entry->stream.msg ? entry->stream.msg : zError(status));
      EntryFailed(entry, problem.c_str(), error);
      return -1;
    }
  }
  if (!size) return entry->stream.avail_out == 0 ? 1 : 0;
  return (int64_t)(size - entry->stream.avail_out);
}

// At the stated size: the stream must end there, and the bytes must have
// the stated CRC-32.
bool FinishEntry(JarEntryStream *entry, std::string *error) {
  if (entry->inflating && !entry->streamEnded) {
    int64_t more = InflateInto(entry, nullptr, 0, error);
    if (more < 0) return false;
    if (more > 0) return EntryFailed(entry, TOOL_MSG_ZIP_TOO_LONG, error);
  }
  if (entry->crc != entry->record->crc) return EntryFailed(entry, TOOL_MSG_ZIP_CRC_MISMATCH, error);
  entry->finished = true;
  return true;
}

}  // namespace

JarArchive *OpenJarArchive(const std::string &path, std::string *error) {
  JarArchive *archive = new JarArchive;
  archive->path = path;
  archive->file = OpenFileForReading(path);
  int64_t size = archive->file ? FileSize(archive->file) : -1;
  if (size < 0) {
    *error = MessageText(TOOL_MSG_AT_FILE, path.c_str(), ErrnoText(errno).c_str());
    CloseJarArchive(archive);
    return nullptr;
  }
  archive->fileSize = (uint64_t)size;
  uint64_t endAt = 0;
  if (!FindEndRecord(archive, &endAt, error) || !ReadCentralDirectory(archive, endAt, error)) {
    CloseJarArchive(archive);
    return nullptr;
  }
  return archive;
}

uint64_t JarEntryCount(JarArchive *archive) { return archive->entries.size(); }

bool StatJarEntry(JarArchive *archive, uint64_t index, JarEntryInfo *stat, std::string *error) {
  if (index >= archive->entries.size()) return ArchiveError(archive, TOOL_MSG_ZIP_NO_SUCH_ENTRY, error);
  const CentralRecord &record = archive->entries[(size_t)index];
  stat->name.assign((const char *)&archive->central[record.nameAt], record.nameLength);
  stat->size = record.size;
  stat->crc32 = record.crc;
  stat->timeKind = record.timeKind;
  stat->timeValue = record.timeValue;
  return true;
}

JarEntryStream *OpenJarEntry(JarArchive *archive, uint64_t index, std::string *error) {
  if (index >= archive->entries.size()) {
    ArchiveError(archive, TOOL_MSG_ZIP_NO_SUCH_ENTRY, error);
    return nullptr;
  }
  JarEntryStream *entry = new JarEntryStream;
  entry->archive = archive;
  entry->record = &archive->entries[(size_t)index];
  const CentralRecord &record = *entry->record;
  entry->name.assign((const char *)&archive->central[record.nameAt], record.nameLength);
  std::string problem;
  unsigned char local[kLocalHeaderSize];
  if (record.flags & kFlagEncrypted) {
    problem = TOOL_MSG_ZIP_ENCRYPTED;
  } else if (record.method != kMethodStored && record.method != kMethodDeflated) {
    problem = MessageText(TOOL_MSG_ZIP_METHOD, (unsigned)record.method);
  } else if (record.method == kMethodStored && record.compressedSize != record.size) {
    problem = TOOL_MSG_ZIP_STORED_SIZES;
  } else if (record.limit - record.localOffset < kLocalHeaderSize ||
             !ReadAt(archive->file, record.localOffset, local, kLocalHeaderSize) ||
             ReadU32LE(local) != kLocalSignature) {
    problem = TOOL_MSG_ZIP_BAD_LOCAL;
  } else {
    uint64_t dataAt = record.localOffset + kLocalHeaderSize + ReadU16LE(local + 26) + ReadU16LE(local + 28);
    if (dataAt > record.limit || record.limit - dataAt < record.compressedSize) {
      problem = TOOL_MSG_ZIP_DATA_OUTSIDE;
    } else {
      entry->position = dataAt;
      entry->compressedLeft = record.compressedSize;
    }
  }
  if (problem.empty() && record.method == kMethodDeflated) {
    memset(&entry->stream, 0, sizeof entry->stream);
    if (inflateInit2(&entry->stream, -MAX_WBITS) != Z_OK) {
      problem = TOOL_MSG_ZIP_NO_MEMORY;
    } else {
      entry->inflating = true;
    }
  }
  if (!problem.empty()) {
    EntryFailed(entry, problem.c_str(), error);
    CloseJarEntry(entry);
    return nullptr;
  }
  entry->input.resize((size_t)std::min<uint64_t>(record.compressedSize, kInputBufferSize));
  entry->crc = (uint32_t)crc32(0, nullptr, 0);
  return entry;
}

int64_t ReadJarEntry(JarEntryStream *entry, unsigned char *buffer, size_t size, std::string *error) {
  if (entry->failed) {
    *error = MessageText(TOOL_MSG_JAR_ENTRY_PROBLEM, entry->archive->path.c_str(), Shown(entry->name).c_str(),
                         TOOL_MSG_ZIP_READ_AFTER_ERROR);
    return -1;
  }
  if (entry->finished) return 0;
  uint64_t left = entry->record->size - entry->produced;
  if (left == 0) return FinishEntry(entry, error) ? 0 : -1;
  size = (size_t)std::min<uint64_t>(std::min<uint64_t>(size, left), 1u << 30);
  unsigned char *out = (unsigned char *)buffer;
  int64_t made;
  if (entry->inflating) {
    made = InflateInto(entry, out, size, error);
    if (made < 0) return -1;
    if (made == 0 || (entry->streamEnded && (uint64_t)made < left)) {
      EntryFailed(entry, TOOL_MSG_ZIP_ENDS_EARLY, error);
      return -1;
    }
  } else {
    if (!ReadAt(entry->archive->file, entry->position, out, size)) {
      EntryFailed(entry, TOOL_MSG_ZIP_UNREADABLE, error);
      return -1;
    }
    entry->position += size;
    entry->compressedLeft -= size;
    made = (int64_t)size;
  }
  entry->crc = (uint32_t)crc32(entry->crc, out, (uInt)made);
  entry->produced += (uint64_t)made;
  return made;
}

void CloseJarEntry(JarEntryStream *entry) {
  if (!entry) return;
  if (entry->inflating) inflateEnd(&entry->stream);
  delete entry;
}

void CloseJarArchive(JarArchive *archive) {
  if (!archive) return;
  if (archive->file) fclose(archive->file);
  delete archive;
}
