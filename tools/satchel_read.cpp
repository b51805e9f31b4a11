// The reading commands of the bundle tool: list, extract and verify.
//
// All three index the bundle with the payload library (OpenPayloadFile), as a
// launcher would.  `extract` reads the entry through the library's entry
// streams, the launcher's own read path.  `verify` also looks below the
// library: it finds the header itself to report what it passed over, and it
// inflates every entry's compressed bytes with zlib directly, so that it can
// tell a stream that produces more than its declared size or does not end
// where it should, which a reader simply cuts off.
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bundle_writer.h"
#include "payload.h"
#include "satchel_commands.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

const int64_t kBundleLimit = int64_t(1) << 31;
const size_t kWindowSize = 32768;

const char kListUsage[] =
    "usage: satchel list BUNDLE [--json]\n"
    "\n"
    "Shows the payload header (where it starts and its fields), every file entry\n"
    "in table order with its offset and sizes, and every property in table\n"
    "order.  With --json the same as one JSON object.\n";

const char kExtractUsage[] =
    "usage: satchel extract BUNDLE NAME -o FILE\n"
    "\n"
    "Writes the content of the entry NAME to FILE (\"-\" for standard output),\n"
    "read through the payload library's entry streams with the preset\n"
    "dictionary that the entry's reader uses.  FILE appears only when complete.\n";

const char kVerifyUsage[] =
    "usage: satchel verify BUNDLE\n"
    "\n"
    "Checks the header and its CRC, the table of contents, and that every entry\n"
    "inflates to exactly its declared size with the preset dictionary that its\n"
    "reader will set: none in an installer bundle; in a Java bundle (one that\n"
    "holds " PAYLOAD_INPUT_STREAM_ENTRY ")\n"
    "the three-stage dictionary.  For the launcher's properties \"msi\" and \"exe\"\n"
    "it checks that the entries exist and that the names are plain Windows file\n"
    "names.  Prints the problems found; exit status 0 when there are none.\n";

uint32_t GetU32(const unsigned char *at) {
  return (uint32_t)at[0] | (uint32_t)at[1] << 8 | (uint32_t)at[2] << 16 | (uint32_t)at[3] << 24;
}

bool SeekTo(FILE *file, int64_t offset) {
#ifdef _WIN32
  return _fseeki64(file, offset, SEEK_SET) == 0;
#else
  return fseeko(file, (off_t)offset, SEEK_SET) == 0;
#endif
}

int64_t FileSize(FILE *file) {
#ifdef _WIN32
  if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
  return _ftelli64(file);
#else
  if (fseeko(file, 0, SEEK_END) != 0) return -1;
  return (int64_t)ftello(file);
#endif
}

// The header as a reader finds it: the first 512-byte block start holding the
// magic and a matching CRC.
struct HeaderInfo {
  int64_t offset = -1;
  int64_t fileSize = 0;
  uint32_t fileEntryCount = 0;
  uint32_t tocCompressedSize = 0;
  uint32_t tocUncompressedSize = 0;
  uint32_t entryDataSize = 0;
  uint32_t headerCrc = 0;
  std::vector<int64_t> badCrcBlocks;  // block starts with the magic but a wrong CRC
};

bool ScanHeader(FILE *file, HeaderInfo *header, std::string *error) {
  header->fileSize = FileSize(file);
  if (header->fileSize < 0 || !SeekTo(file, 0)) {
    *error = "cannot determine the file size";
    return false;
  }
  unsigned char block[PAYLOAD_BLOCK_SIZE];
  for (int64_t at = 0;; at += PAYLOAD_BLOCK_SIZE) {
    size_t got = fread(block, 1, sizeof block, file);
    if (got < PAYLOAD_HEADER_SIZE) break;
    if (memcmp(block, PAYLOAD_MAGIC, PAYLOAD_MAGIC_SIZE) != 0) continue;
    header->headerCrc = GetU32(block + 32);
    if (crc32(0, block, 32) != header->headerCrc) {
      header->badCrcBlocks.push_back(at);
      continue;
    }
    header->offset = at;
    header->fileEntryCount = GetU32(block + 16);
    header->tocCompressedSize = GetU32(block + 20);
    header->tocUncompressedSize = GetU32(block + 24);
    header->entryDataSize = GetU32(block + 28);
    return true;
  }
  if (ferror(file)) {
    *error = "read failed";
    return false;
  }
  *error = "no payload header (no 512-byte block start holds the magic \"" PAYLOAD_MAGIC
           "\" with a matching CRC)";
  if (!header->badCrcBlocks.empty())
    *error += "; the magic at offset " + std::to_string(header->badCrcBlocks[0]) +
              " has a wrong header CRC";
  return false;
}

// ---- the index, seen through the library ----

std::vector<const FileEntry *> AllFileEntries() {
  std::vector<const FileEntry *> entries;
  ForEachFileEntry([](const FileEntry *entry, void *context) {
    static_cast<std::vector<const FileEntry *> *>(context)->push_back(entry);
  }, &entries);
  return entries;
}

// In table order (the index keeps them in reverse).
std::vector<const PropertyEntry *> AllProperties() {
  std::vector<const PropertyEntry *> properties;
  ForEachProperty([](const PropertyEntry *property, void *context) {
    static_cast<std::vector<const PropertyEntry *> *>(context)->push_back(property);
  }, &properties);
  std::reverse(properties.begin(), properties.end());
  return properties;
}

bool OpenIndex(const std::string &path) {
  const char *message = nullptr;
  if (!OpenPayloadFile(path.c_str(), &message)) {
    PrintError("%s: %s", path.c_str(), message ? message : "cannot open the payload");
    ClosePayload();  // a failed open may leave part of an index behind
    return false;
  }
  return true;
}

bool IsJavaBundle() {
  FileEntry *entry;
  const char *message;
  return FindFileEntry(PAYLOAD_INPUT_STREAM_ENTRY, &entry, &message) != 0;
}

// Reads a whole entry through an entry stream and keeps its last 32768 bytes
// (all that a dictionary it ends keeps of it); memory does not grow with the
// entry, whatever size it declares.
bool ReadEntryTail(const char *name, const std::vector<unsigned char> &dictionary,
                   std::vector<unsigned char> *tail, std::string *error) {
  const char *message = nullptr;
  EntryStream *stream = OpenEntryStream(name, dictionary.empty() ? nullptr : dictionary.data(),
                                        (int)dictionary.size(), &message);
  if (!stream) {
    *error = message;
    return false;
  }
  tail->clear();
  static unsigned char buffer[1 << 16];
  int n;
  while ((n = ReadEntryStream(stream, buffer, sizeof buffer, nullptr)) > 0) {
    tail->insert(tail->end(), buffer, buffer + n);
    if (tail->size() > 2 * kWindowSize) tail->erase(tail->begin(), tail->end() - kWindowSize);
  }
  if (n < 0) GetEntryStreamStatus(stream, &message);
  uint32_t remaining = GetEntryStreamRemaining(stream);
  CloseEntryStream(stream);
  if (n < 0 || remaining != 0) {
    *error = n < 0 && message ? message : "the data ends before its declared size";
    return false;
  }
  if (tail->size() > kWindowSize) tail->erase(tail->begin(), tail->end() - kWindowSize);
  return true;
}

// The preset dictionaries a reader sets, cut to the inflater's window.
struct ReaderDictionaries {
  bool java = false;
  std::vector<unsigned char> stage1, stage2, stage3;
};

std::vector<unsigned char> Tail(std::vector<unsigned char> bytes) {
  if (bytes.size() > kWindowSize) bytes.erase(bytes.begin(), bytes.end() - kWindowSize);
  return bytes;
}

// Builds the dictionaries as Java hosting does: ConcatenatedNames, then the
// content of the InternalInputStream class entry, then that of the
// InternalClassLoader entry.  In an installer bundle there are none.
bool BuildDictionaries(ReaderDictionaries *dictionaries, std::string *error) {
  dictionaries->java = IsJavaBundle();
  if (!dictionaries->java) return true;
  const char *names = GetConcatenatedNames();
  std::vector<unsigned char> all(names ? (const unsigned char *)names : nullptr,
                                 names ? (const unsigned char *)names + strlen(names) : nullptr);
  dictionaries->stage1 = Tail(all);
  std::vector<unsigned char> content;
  if (!ReadEntryTail(PAYLOAD_INPUT_STREAM_ENTRY, dictionaries->stage1, &content, error)) {
    *error = std::string("entry \"" PAYLOAD_INPUT_STREAM_ENTRY "\": ") + *error;
    return false;
  }
  all = dictionaries->stage1;
  all.insert(all.end(), content.begin(), content.end());
  dictionaries->stage2 = Tail(all);
  FileEntry *entry;
  const char *message;
  if (FindFileEntry(PAYLOAD_CLASS_LOADER_ENTRY, &entry, &message)) {
    if (!ReadEntryTail(PAYLOAD_CLASS_LOADER_ENTRY, dictionaries->stage2, &content, error)) {
      *error = std::string("entry \"" PAYLOAD_CLASS_LOADER_ENTRY "\": ") + *error;
      return false;
    }
    all = dictionaries->stage2;
    all.insert(all.end(), content.begin(), content.end());
  }
  dictionaries->stage3 = Tail(all);
  return true;
}

const std::vector<unsigned char> &DictionaryFor(const ReaderDictionaries &dictionaries,
                                                const char *name) {
  if (strcmp(name, PAYLOAD_INPUT_STREAM_ENTRY) == 0) return dictionaries.stage1;
  if (strcmp(name, PAYLOAD_CLASS_LOADER_ENTRY) == 0) return dictionaries.stage2;
  return dictionaries.stage3;
}

// ---- text and JSON output ----

// Names are bytes; show control characters and quotes escaped.
std::string Shown(const char *text) {
  std::string out;
  for (const unsigned char *p = (const unsigned char *)text; *p; ++p) {
    if (*p < 0x20 || *p == 0x7f || *p == '"' || *p == '\\') {
      char hex[8];
      snprintf(hex, sizeof hex, *p == '"' || *p == '\\' ? "\\%c" : "\\x%02x", *p);
      out += hex;
    } else {
      out += (char)*p;
    }
  }
  return out;
}

// A JSON string; bytes that are not well-formed UTF-8 become U+FFFD.
std::string JsonString(const char *text) {
  std::string out = "\"";
  const unsigned char *p = (const unsigned char *)text;
  while (*p) {
    unsigned char c = *p;
    if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
      ++p;
    } else if (c < 0x20 || c == 0x7f) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\u%04x", c);
      out += hex;
      ++p;
    } else if (c < 0x80) {
      out += (char)c;
      ++p;
    } else {
      size_t more = (c & 0xe0) == 0xc0 ? 1 : (c & 0xf0) == 0xe0 ? 2 : (c & 0xf8) == 0xf0 ? 3 : 0;
      uint32_t point = more == 1 ? (c & 0x1fu) : more == 2 ? (c & 0x0fu) : (c & 0x07u);
      bool good = more > 0;
      for (size_t k = 1; good && k <= more; ++k) {
        if ((p[k] & 0xc0) != 0x80) good = false;
        else point = point << 6 | (p[k] & 0x3f);
      }
      static const uint32_t least[4] = {0, 0x80, 0x800, 0x10000};
      if (good && (point < least[more] || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff)))
        good = false;
      if (good) {
        out.append((const char *)p, more + 1);
        p += more + 1;
      } else {
        out += "\\ufffd";
        ++p;
      }
    }
  }
  return out + "\"";
}

// Marks entries that a reader never finds (a earlier one has the same name)
// and properties that a later one of the same key hides.
std::vector<bool> ShadowedEntries(const std::vector<const FileEntry *> &entries) {
  std::vector<bool> shadowed(entries.size(), false);
  for (size_t i = 0; i < entries.size(); ++i) {
    FileEntry *found;
    const char *message;
    shadowed[i] = !FindFileEntry(entries[i]->name, &found, &message) || found != entries[i];
  }
  return shadowed;
}

std::vector<bool> ShadowedProperties(const std::vector<const PropertyEntry *> &properties) {
  std::vector<bool> shadowed(properties.size(), false);
  for (size_t i = 0; i < properties.size(); ++i)
    shadowed[i] = FindProperty(properties[i]->key) != properties[i]->value;
  return shadowed;
}

// Reads the arguments of a command that takes one BUNDLE and, where `json`
// is given, the flag --json.  -1 to go on; otherwise the exit status (help
// printed, or a usage error reported).
int ParseBundleArguments(const char *command, const char *usage, int argc, char **argv,
                         std::string *path, bool *json) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      fputs(usage, stdout);
      return EXIT_OK;
    } else if (json && arg == "--json") {
      *json = true;
    } else if (path->empty() && (arg.empty() || arg[0] != '-')) {
      *path = arg;
    } else {
      PrintError("%s: unexpected argument \"%s\" (see satchel %s --help)", command, arg.c_str(),
                 command);
      return EXIT_USAGE;
    }
  }
  if (path->empty()) {
    PrintError("%s needs a BUNDLE (see satchel %s --help)", command, command);
    return EXIT_USAGE;
  }
  return -1;
}

}  // namespace

int ListCommand(int argc, char **argv) {
  std::string path;
  bool json = false;
  int status = ParseBundleArguments("list", kListUsage, argc, argv, &path, &json);
  if (status >= 0) return status;

  FILE *file = OpenFileForReading(path);
  if (!file) {
    PrintError("%s: cannot open: %s", path.c_str(), strerror(errno));
    return EXIT_FAILED;
  }
  HeaderInfo header;
  std::string error;
  bool found = ScanHeader(file, &header, &error);
  fclose(file);
  if (!found) {
    PrintError("%s: %s", path.c_str(), error.c_str());
    return EXIT_FAILED;
  }
  if (!OpenIndex(path)) return EXIT_FAILED;
  std::vector<const FileEntry *> entries = AllFileEntries();
  std::vector<const PropertyEntry *> properties = AllProperties();
  std::vector<bool> hiddenEntries = ShadowedEntries(entries);
  std::vector<bool> hiddenProperties = ShadowedProperties(properties);
  bool java = IsJavaBundle();
  int32_t dataStart = GetPayloadEntryDataStart();

  if (json) {
    printf("{\n  \"file\": %s,\n", JsonString(path.c_str()).c_str());
    printf("  \"header\": {\"offset\": %lld, \"fileEntryCount\": %u, \"tocCompressedSize\": %u, "
           "\"tocUncompressedSize\": %u, \"entryDataSize\": %u, \"headerCrc\": %u},\n",
           (long long)header.offset, header.fileEntryCount, header.tocCompressedSize,
           header.tocUncompressedSize, header.entryDataSize, header.headerCrc);
    printf("  \"entryDataStart\": %d,\n  \"fileSize\": %lld,\n  \"dictionaries\": \"%s\",\n",
           dataStart, (long long)header.fileSize, java ? "java" : "none");
    printf("  \"entries\": [");
    for (size_t i = 0; i < entries.size(); ++i) {
      printf("%s\n    {\"name\": %s, \"offset\": %u, \"compressedSize\": %u, "
             "\"uncompressedSize\": %u, \"shadowed\": %s}",
             i ? "," : "", JsonString(entries[i]->name).c_str(), entries[i]->offset,
             entries[i]->compressedSize, entries[i]->uncompressedSize,
             hiddenEntries[i] ? "true" : "false");
    }
    printf("%s],\n  \"properties\": [", entries.empty() ? "" : "\n  ");
    for (size_t i = 0; i < properties.size(); ++i) {
      printf("%s\n    {\"key\": %s, \"value\": %s, \"shadowed\": %s}", i ? "," : "",
             JsonString(properties[i]->key).c_str(), JsonString(properties[i]->value).c_str(),
             hiddenProperties[i] ? "true" : "false");
    }
    printf("%s]\n}\n", properties.empty() ? "" : "\n  ");
  } else {
    printf("%s\n", path.c_str());
    printf("header at offset %lld (file size %lld)\n", (long long)header.offset,
           (long long)header.fileSize);
    printf("  fileEntryCount       %u\n", header.fileEntryCount);
    printf("  tocCompressedSize    %u\n", header.tocCompressedSize);
    printf("  tocUncompressedSize  %u\n", header.tocUncompressedSize);
    printf("  entryDataSize        %u\n", header.entryDataSize);
    printf("  headerCrc            0x%08x\n", header.headerCrc);
    printf("  entryDataStart       %d\n", dataStart);
    printf("dictionaries: %s\n", java ? "Java (three stages)" : "none (installer bundle)");
    printf("entries: %zu\n", entries.size());
    if (!entries.empty()) printf("  %10s  %10s  %12s  %s\n", "offset", "compressed", "uncompressed", "name");
    for (size_t i = 0; i < entries.size(); ++i) {
      printf("  %10u  %10u  %12u  %s%s\n", entries[i]->offset, entries[i]->compressedSize,
             entries[i]->uncompressedSize, Shown(entries[i]->name).c_str(),
             hiddenEntries[i] ? "  (never read: an earlier entry has this name)" : "");
    }
    printf("properties: %zu\n", properties.size());
    for (size_t i = 0; i < properties.size(); ++i) {
      printf("  %s = \"%s\"%s\n", Shown(properties[i]->key).c_str(),
             Shown(properties[i]->value).c_str(),
             hiddenProperties[i] ? "  (never read: a later property has this key)" : "");
    }
  }
  ClosePayload();
  return fflush(stdout) == 0 ? EXIT_OK : EXIT_FAILED;
}

int ExtractCommand(int argc, char **argv) {
  std::string path, name, out;
  bool haveName = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      fputs(kExtractUsage, stdout);
      return EXIT_OK;
    } else if (arg == "-o" || arg == "--output") {
      if (i + 1 >= argc) {
        PrintError("-o needs a value (see satchel extract --help)");
        return EXIT_USAGE;
      }
      out = argv[++i];
    } else if (path.empty()) {
      path = arg;
    } else if (!haveName) {
      name = arg;
      haveName = true;
    } else {
      PrintError("extract: unexpected argument \"%s\" (see satchel extract --help)", arg.c_str());
      return EXIT_USAGE;
    }
  }
  if (path.empty() || !haveName || out.empty()) {
    PrintError("extract needs BUNDLE, NAME and -o FILE (see satchel extract --help)");
    return EXIT_USAGE;
  }
  if (!OpenIndex(path)) return EXIT_FAILED;

  FileEntry *entry;
  const char *message = nullptr;
  if (!FindFileEntry(name.c_str(), &entry, &message)) {
    PrintError("%s: no entry named \"%s\"", path.c_str(), Shown(name.c_str()).c_str());
    ClosePayload();
    return EXIT_FAILED;
  }
  ReaderDictionaries dictionaries;
  std::string error;
  if (!BuildDictionaries(&dictionaries, &error)) {
    PrintError("%s: cannot build the preset dictionary: %s", path.c_str(), error.c_str());
    ClosePayload();
    return EXIT_FAILED;
  }
  const std::vector<unsigned char> &dictionary = DictionaryFor(dictionaries, name.c_str());
  EntryStream *stream =
      OpenEntryStream(name.c_str(), dictionaries.java && !dictionary.empty() ? dictionary.data() : nullptr,
                      (int)dictionary.size(), &message);
  if (!stream) {
    PrintError("%s: entry \"%s\": %s", path.c_str(), Shown(name.c_str()).c_str(), message);
    ClosePayload();
    return EXIT_FAILED;
  }

  bool toStdout = out == "-";
  AtomicOutput output;
  if (toStdout) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
  } else if (!BeginAtomicOutput(out, &output, &error)) {
    PrintError("%s", error.c_str());
    CloseEntryStream(stream);
    ClosePayload();
    return EXIT_FAILED;
  }

  // Each read makes at most one 4096-byte fetch and one inflate step, which
  // yields a few KiB; gather many of them before each write.
  const size_t kBufferSize = 256 * 1024;
  std::vector<unsigned char> buffer(kBufferSize);
  size_t filled = 0;
  bool failed = false;
  for (;;) {
    int n = ReadEntryStream(stream, buffer.data() + filled, (uint32_t)(kBufferSize - filled), nullptr);
    if (n > 0) filled += (size_t)n;
    if (filled == kBufferSize || (n <= 0 && filled > 0)) {
      bool written = toStdout ? fwrite(buffer.data(), 1, filled, stdout) == filled
                              : WriteAtomicOutput(&output, buffer.data(), filled, &error);
      if (!written) {
        if (toStdout) error = "standard output: write failed";
        failed = true;
        break;
      }
      filled = 0;
    }
    if (n < 0) {
      GetEntryStreamStatus(stream, &message);
      error = path + ": entry \"" + Shown(name.c_str()) + "\": " + (message ? message : "read failed");
      failed = true;
      break;
    }
    if (n == 0) {
      if (GetEntryStreamRemaining(stream) != 0) {
        error = path + ": entry \"" + Shown(name.c_str()) + "\": the data ends " +
                std::to_string(GetEntryStreamRemaining(stream)) + " bytes short of its size";
        failed = true;
      }
      break;
    }
  }
  CloseEntryStream(stream);
  ClosePayload();
  if (!failed) {
    if (toStdout) {
      if (fflush(stdout) != 0) {
        error = "standard output: write failed";
        failed = true;
      }
    } else if (!CommitAtomicOutput(&output, &error)) {
      failed = true;
    }
  }
  if (failed) {
    if (!toStdout) AbortAtomicOutput(&output);
    PrintError("%s", error.c_str());
    return EXIT_FAILED;
  }
  return EXIT_OK;
}

namespace {

// Inflates one entry's compressed bytes straight from the file, the way a
// reader fetches them (4096 at a time from the entry's start), and checks
// that the stream yields exactly the declared size and ends within its
// compressed bytes.  An empty string when all is well, else the problem.
std::string CheckEntryData(FILE *file, int64_t dataStart, const FileEntry *entry,
                           const unsigned char *dictionary, size_t dictionaryLength) {
  int64_t start = dataStart + entry->offset;
  int64_t end = start + entry->compressedSize;
  if (entry->compressedSize >= (uint32_t)kBundleLimit || end > kBundleLimit)
    return "its compressed bytes reach beyond 2 GiB, where no reader can address them";
  if (entry->uncompressedSize == 0) return std::string();  // read as empty, never inflated
  z_stream inflater;
  memset(&inflater, 0, sizeof inflater);
  if (inflateInit2(&inflater, -15) != Z_OK) return "cannot create an inflater";
  if (dictionary && inflateSetDictionary(&inflater, dictionary, (uInt)dictionaryLength) != Z_OK) {
    inflateEnd(&inflater);
    return "cannot set the preset dictionary";
  }
  static unsigned char input[ENTRY_STREAM_CHUNK];
  static unsigned char output[1 << 16];
  uint32_t consumed = 0, chunk = 0;
  uint64_t produced = 0;
  int result = Z_OK;
  std::string problem;
  while (problem.empty()) {
    bool fresh = false;
    if (inflater.avail_in == 0) {
      if (consumed >= entry->compressedSize) {
        problem = produced < entry->uncompressedSize
                      ? "its compressed bytes end after " + std::to_string(produced) + " of " +
                            std::to_string(entry->uncompressedSize) + " bytes"
                      : "its deflate stream does not end within its " +
                            std::to_string(entry->compressedSize) + " compressed bytes";
        break;
      }
      uint32_t want = std::min<uint32_t>(ENTRY_STREAM_CHUNK, entry->compressedSize - consumed);
      if (!SeekTo(file, start + consumed)) {
        problem = "cannot seek to its compressed bytes";
        break;
      }
      size_t got = fread(input, 1, want, file);
      if (got < want) {
        problem = "its compressed bytes run past the end of the file";
        break;
      }
      consumed += want;
      chunk = want;
      inflater.next_in = input;
      inflater.avail_in = want;
      fresh = true;
    }
    inflater.next_out = output;
    inflater.avail_out = sizeof output;
    result = inflate(&inflater, Z_NO_FLUSH);
    uint64_t step = sizeof output - inflater.avail_out;
    produced += step;
    if (result != Z_OK && result != Z_STREAM_END) {
      problem = std::string("the data does not inflate") +
                (dictionaryLength ? " with the reader's preset dictionary" : " without a preset dictionary") +
                " (zlib: " + (inflater.msg ? inflater.msg : "error " + std::to_string(result)) +
                ", after " + std::to_string(produced) + " bytes)";
    } else if (produced > entry->uncompressedSize) {
      problem = "it inflates to more than its declared " + std::to_string(entry->uncompressedSize) +
                " bytes";
    } else if (result == Z_STREAM_END) {
      if (produced < entry->uncompressedSize)
        problem = "it inflates to " + std::to_string(produced) + " bytes, not its declared " +
                  std::to_string(entry->uncompressedSize);
      break;
    } else if (fresh && step == 0 && produced < entry->uncompressedSize) {
      problem = "the " + std::to_string(chunk) + " compressed bytes at offset " +
                std::to_string(consumed - chunk) +
                " of the entry yield no data; a reader takes that for the end of the entry";
    }
  }
  inflateEnd(&inflater);
  return problem;
}

}  // namespace

int VerifyCommand(int argc, char **argv) {
  std::string path;
  int status = ParseBundleArguments("verify", kVerifyUsage, argc, argv, &path, nullptr);
  if (status >= 0) return status;
  FILE *file = OpenFileForReading(path);
  if (!file) {
    PrintError("%s: cannot open: %s", path.c_str(), strerror(errno));
    return EXIT_FAILED;
  }
  HeaderInfo header;
  std::string error;
  if (!ScanHeader(file, &header, &error)) {
    PrintError("%s: %s", path.c_str(), error.c_str());
    fclose(file);
    return EXIT_FAILED;
  }
  std::vector<std::string> problems;
  for (int64_t at : header.badCrcBlocks)
    if (at < header.offset)
      printf("%s: note: passed over a magic with a wrong header CRC at offset %lld\n", path.c_str(),
             (long long)at);
  int64_t payloadEnd = header.offset + PAYLOAD_HEADER_SIZE + (int64_t)header.tocCompressedSize;
  if (header.fileSize >= kBundleLimit)
    problems.push_back("the file is " + std::to_string(header.fileSize) +
                       " bytes; a reader addresses only the first 2 GiB");
  if (payloadEnd > header.fileSize)
    problems.push_back("the table of contents (" + std::to_string(header.tocCompressedSize) +
                       " bytes) runs past the end of the file");

  const char *message = nullptr;
  if (!OpenPayloadFile(path.c_str(), &message)) {
    problems.push_back(std::string("the payload cannot be indexed: ") +
                       (message ? message : "unknown failure"));
    for (const std::string &problem : problems) PrintError("%s: %s", path.c_str(), problem.c_str());
    ClosePayload();
    fclose(file);
    return EXIT_FAILED;
  }
  std::vector<const FileEntry *> entries = AllFileEntries();
  std::vector<const PropertyEntry *> properties = AllProperties();
  int32_t dataStart = GetPayloadEntryDataStart();

  ReaderDictionaries dictionaries;
  if (!BuildDictionaries(&dictionaries, &error))
    problems.push_back("cannot build the Java preset dictionary: " + error);

  uint64_t dataSize = 0;
  for (const FileEntry *entry : entries) {
    dataSize += entry->compressedSize;
    const std::vector<unsigned char> &dictionary = DictionaryFor(dictionaries, entry->name);
    std::string problem = CheckEntryData(file, dataStart, entry,
                                         dictionaries.java && !dictionary.empty() ? dictionary.data() : nullptr,
                                         dictionary.size());
    if (!problem.empty()) problems.push_back("entry \"" + Shown(entry->name) + "\": " + problem);
  }
  if (dataSize != header.entryDataSize)
    printf("%s: note: the header's entryDataSize %u differs from the sum of the compressed sizes "
           "%llu (readers do not use it)\n",
           path.c_str(), header.entryDataSize, (unsigned long long)dataSize);
  if (entries.size() != header.fileEntryCount)
    printf("%s: note: the header's fileEntryCount %u differs from the %zu file entries (it only "
           "sizes the reader's hash table)\n",
           path.c_str(), header.fileEntryCount, entries.size());

  // The launcher's two names, when the bundle carries them.
  const char *msi = FindProperty("msi");
  const char *exe = FindProperty("exe");
  for (const char *key : {"msi", "exe"}) {
    const char *value = FindProperty(key);
    if (!value) continue;
    std::string reason;
    if (!IsPlainWindowsFileName(value, &reason))
      problems.push_back(std::string("property \"") + key + "\" = \"" + Shown(value) +
                         "\" is not a plain Windows file name: " + reason);
    FileEntry *entry;
    if (!FindFileEntry(key, &entry, &message))
      problems.push_back(std::string("property \"") + key + "\" is set but there is no entry \"" +
                         key + "\"");
  }
  if (msi && exe && SameFileNameIgnoringCase(msi, exe))
    problems.push_back(std::string("the msi name \"") + Shown(msi) + "\" and the exe name \"" +
                       Shown(exe) + "\" are the same file name when case is ignored");
  ClosePayload();
  fclose(file);

  for (const std::string &problem : problems) PrintError("%s: %s", path.c_str(), problem.c_str());
  if (!problems.empty()) return EXIT_FAILED;
  printf("%s: OK (%zu entries, %zu properties, %s)\n", path.c_str(), entries.size(),
         properties.size(), dictionaries.java ? "Java preset dictionaries" : "no preset dictionaries");
  return EXIT_OK;
}
