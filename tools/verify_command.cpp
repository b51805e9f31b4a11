// satchel verify: checks a bundle the way its readers will use it and prints
// every problem found; exit status 0 when there are none.
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bundle_reading.h"
#include "file_names.h"
#include "payload.h"
#include "satchel_commands.h"
#include "shown_text.h"
#include "tool_files.h"

namespace {

const int64_t kBundleLimit = PAYLOAD_SIZE_LIMIT;

const char kVerifyUsage[] =
    "usage: satchel verify BUNDLE\n"
    "\n"
    "Checks the header and its CRC, the table of contents, and that every entry\n"
    "inflates to exactly its declared size with the preset dictionary that its\n"
    "reader will set: none in an installer bundle; in a Java bundle (one that\n"
    "holds " PAYLOAD_INPUT_STREAM_ENTRY ")\n"
    "the three-stage dictionary, and that its content has the CRC-32 that the\n"
    "bundle records (property \"" PAYLOAD_CHECKSUM_KEY "\").  Then whether the bundle would\n"
    "run: an installer bundle needs the properties \"msi\" and \"exe\" (plain Windows\n"
    "file names), both entries and a non-empty exe; a Java bundle both internal\n"
    "classes, a \"Main-Class\" property and that class's entry.  Prints the\n"
    "problems found; exit status 0 when there are none.\n";

// Inflates one entry's compressed bytes straight from the file, the way a
// reader fetches them (4096 at a time from the entry's start), and checks
// that the stream yields exactly the declared size and ends within its
// compressed bytes.  An empty string when all is well, else the problem.
//
// This is the one inflater of the tool beside the library's entry streams,
// and it has to be: an entry stream stops at the declared size and treats a
// stream that runs dry as the end, which is right for a reader and hides
// exactly what verify must report (a stream longer than its size, one that
// does not end within its bytes, a chunk that yields nothing).
std::string Hex32(uint32_t value) {
  char text[12];
  snprintf(text, sizeof text, "%08x", value);
  return text;
}

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
  uLong crc = crc32(0, nullptr, 0);
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
      if (!SeekFile(file, start + consumed)) {
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
    crc = crc32(crc, output, (uInt)step);
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
      else if (PayloadHasEntryChecksums() && crc != entry->crc)
        problem = "its content has the CRC-32 " + Hex32((uint32_t)crc) + ", not the recorded " +
                  Hex32(entry->crc) + ": it was altered after packing";
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
  HeaderInfo header;
  FILE *file = OpenBundleHeader(path, &header);
  if (!file) return EXIT_FAILED;
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
  std::string error;
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

  // Would it run?  A Java bundle needs its front end's two internal classes
  // and the main class; any other bundle is the installer launcher's, which
  // needs both names and both entries.
  const char *msi = FindProperty("msi");
  const char *exe = FindProperty("exe");
  FileEntry *found;
  if (dictionaries.java) {
    if (!FindFileEntry(PAYLOAD_CLASS_LOADER_ENTRY, &found, &message))
      problems.push_back("no entry \"" PAYLOAD_CLASS_LOADER_ENTRY
                         "\": the Java front end cannot load the application");
    const char *mainClass = FindProperty("Main-Class");
    if (!mainClass) {
      problems.push_back("no property \"Main-Class\": the Java front end has no class to run");
    } else {
      std::string entryName = mainClass;
      std::replace(entryName.begin(), entryName.end(), '.', '/');
      entryName += ".class";
      if (!FindFileEntry(entryName.c_str(), &found, &message))
        problems.push_back("the main class \"" + Shown(mainClass) + "\" has no entry \"" +
                           Shown(entryName.c_str()) + "\"");
    }
  } else {
    for (const char *key : {"msi", "exe"})
      if (!FindProperty(key))
        problems.push_back(std::string("no property \"") + key + "\": the launcher stops with \"No " +
                           key + " filename\"");
    if (exe && FindFileEntry("exe", &found, &message) && found->uncompressedSize == 0)
      problems.push_back("the entry \"exe\" is empty: the launcher cannot start it");
  }
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
  bool checksums = PayloadHasEntryChecksums() != 0;
  // The checksum property is the bundle's own, not one of the packager's.
  size_t shownProperties = properties.size();
  for (const PropertyEntry *property : properties)
    if (strcmp(property->key, PAYLOAD_CHECKSUM_KEY) == 0) shownProperties--;
  ClosePayload();
  fclose(file);

  for (const std::string &problem : problems) PrintError("%s: %s", path.c_str(), problem.c_str());
  if (!problems.empty()) return EXIT_FAILED;
  printf("%s: OK (%zu %s, %zu %s, %s), %s\n", path.c_str(), entries.size(),
         entries.size() == 1 ? "entry" : "entries", shownProperties,
         shownProperties == 1 ? "property" : "properties", dictionaries.java ? "Java preset dictionaries" : "no preset dictionaries",
         checksums ? "every entry's CRC-32 matches" : "no entry checksums to compare");
  return EXIT_OK;
}

