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
#include "launcher/launcher_messages.h"
#include "payload.h"
#include "pe_image.h"
#include "satchel_commands.h"
#include "shown_text.h"
#include "stub_kinds.h"
#include "tool_files.h"
#include "tool_messages.h"

namespace {

const int64_t kBundleLimit = PAYLOAD_SIZE_LIMIT;

const char kVerifyUsage[] =
    "usage: satchel verify BUNDLE [--json]\n"
    "\n"
    "Checks the header and its CRC, the table of contents, and that every entry\n"
    "inflates to exactly its declared size with the preset dictionary that its\n"
    "reader will set: none in an installer bundle; in a Java bundle (one that\n"
    "holds " PAYLOAD_INPUT_STREAM_ENTRY ")\n"
    "the three-stage dictionary, and that its content has the CRC-32 that the\n"
    "bundle records (property \"" PAYLOAD_CHECKSUM_KEY "\").  Then whether the bundle would\n"
    "run: an installer bundle needs the properties \"msi\" and \"exe\" (plain Windows\n"
    "file names), both entries and an exe that is a program (a Windows program\n"
    "that is no DLL, or a batch file named .bat or .cmd; with the ready bootstrap,\n"
    "an msi named .msi and no other .msi); a Java bundle both internal classes,\n"
    "a \"Main-Class\" property and that class's entry.  A Windows\n"
    "program in front must have a well-formed resource section (its tree, its\n"
    "icon groups and its version block).  Prints the problems found; exit\n"
    "status 0 when there are none.  With --json, the verdict as one JSON object\n"
    "on standard output: \"bundle\", \"ok\", \"problems\" (each as the error\n"
    "would say it), \"notes\", and for a bundle that was indexed \"entries\",\n"
    "\"properties\", \"java\" and \"checksums\".\n";

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
std::string CheckEntryData(FILE *file, int64_t dataStart, const FileEntry *entry,
                           const unsigned char *dictionary, size_t dictionaryLength) {
  int64_t start = dataStart + entry->offset;
  int64_t end = start + entry->compressedSize;
  if (entry->compressedSize >= (uint32_t)kBundleLimit || end > kBundleLimit)
    return TOOL_MSG_DATA_BEYOND_LIMIT;
  if (entry->uncompressedSize == 0) return std::string();  // read as empty, never inflated
  z_stream inflater;
  memset(&inflater, 0, sizeof inflater);
  if (inflateInit2(&inflater, -15) != Z_OK) return TOOL_MSG_NO_INFLATER;
  if (dictionary && inflateSetDictionary(&inflater, dictionary, (uInt)dictionaryLength) != Z_OK) {
    inflateEnd(&inflater);
    return TOOL_MSG_DICTIONARY_REFUSED;
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
                      ? MessageText(TOOL_MSG_DATA_ENDS_EARLY, (unsigned long long)produced,
                                    entry->uncompressedSize)
                      : MessageText(TOOL_MSG_STREAM_DOES_NOT_END, entry->compressedSize);
        break;
      }
      uint32_t want = std::min<uint32_t>(ENTRY_STREAM_CHUNK, entry->compressedSize - consumed);
      if (!SeekFile(file, start + consumed)) {
        problem = TOOL_MSG_CANNOT_SEEK_DATA;
        break;
      }
      size_t got = fread(input, 1, want, file);
      if (got < want) {
        problem = TOOL_MSG_DATA_PAST_END;
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
      problem = MessageText(TOOL_MSG_DOES_NOT_INFLATE,
                            dictionaryLength ? TOOL_MSG_WITH_DICTIONARY : TOOL_MSG_WITHOUT_DICTIONARY,
                            inflater.msg ? inflater.msg
                                         : MessageText(TOOL_MSG_ZLIB_ERROR, result).c_str(),
                            (unsigned long long)produced);
    } else if (produced > entry->uncompressedSize) {
      problem = MessageText(TOOL_MSG_INFLATES_TOO_MUCH, entry->uncompressedSize);
    } else if (result == Z_STREAM_END) {
      if (produced < entry->uncompressedSize)
        problem = MessageText(TOOL_MSG_INFLATES_TOO_LITTLE, (unsigned long long)produced,
                              entry->uncompressedSize);
      else if (PayloadHasEntryChecksums() && crc != entry->crc)
        problem = MessageText(TOOL_MSG_CRC_MISMATCH, (unsigned)crc, (unsigned)entry->crc);
      break;
    } else if (fresh && step == 0 && produced < entry->uncompressedSize) {
      problem = MessageText(TOOL_MSG_CHUNK_YIELDS_NOTHING, chunk, consumed - chunk);
    }
  }
  inflateEnd(&inflater);
  return problem;
}

// The first bytes of the entry `name`, at most `limit` of them, as a reader
// gets them (no preset dictionary).  False when they cannot be read; what is
// wrong with the entry's data is reported by CheckEntryData.
bool ReadEntryStart(const char *name, size_t limit, std::vector<unsigned char> *start) {
  const char *message = nullptr;
  EntryStream *stream = OpenEntryStream(name, nullptr, 0, &message);
  if (!stream) return false;
  start->resize(limit);
  size_t got = 0;
  int n = 1;
  while (got < limit &&
         (n = ReadEntryStream(stream, start->data() + got, (uint32_t)(limit - got), nullptr)) > 0)
    got += (size_t)n;
  CloseEntryStream(stream);
  start->resize(got);
  return n >= 0;
}

// What verify --json tells of an indexed bundle beside its problems.
struct VerdictCounts {
  size_t entries, properties;
  bool java, checksums;
};

void PrintJsonTexts(const char *name, const std::vector<std::string> &texts) {
  printf("  \"%s\": [", name);
  for (size_t i = 0; i < texts.size(); i++)
    printf("%s\n    %s", i ? "," : "", JsonString(texts[i].c_str()).c_str());
  printf("%s]", texts.empty() ? "" : "\n  ");
}

// verify --json: the verdict and its reasons as one object.
void PrintVerdict(const std::string &path, const std::vector<std::string> &problems,
                  const std::vector<std::string> &notes, const VerdictCounts *counts) {
  printf("{\n  \"bundle\": %s,\n  \"ok\": %s,\n", JsonString(path.c_str()).c_str(),
         problems.empty() ? "true" : "false");
  PrintJsonTexts("problems", problems);
  printf(",\n");
  PrintJsonTexts("notes", notes);
  if (counts)
    printf(",\n  \"entries\": %zu,\n  \"properties\": %zu,\n  \"java\": %s,\n  \"checksums\": %s",
           counts->entries, counts->properties, counts->java ? "true" : "false",
           counts->checksums ? "true" : "false");
  printf("\n}\n");
}

}  // namespace

int VerifyCommand(int argc, char **argv) {
  std::string path;
  bool json = false;
  int status = ParseBundleArguments("verify", kVerifyUsage, argc, argv, &path, &json);
  if (status >= 0) return status;
  HeaderInfo header;
  std::string failure;
  FILE *file = OpenBundleHeader(path, &header, json ? &failure : nullptr);
  if (!file) {
    if (json) PrintVerdict(path, {failure}, {}, nullptr);
    return EXIT_FAILED;
  }
  std::vector<std::string> problems, notes;
  for (int64_t at : header.badCrcBlocks)
    if (at < header.offset)
      notes.push_back(MessageText(TOOL_MSG_NOTE_BAD_CRC, path.c_str(), (long long)at));
  int64_t payloadEnd = header.offset + PAYLOAD_HEADER_SIZE + (int64_t)header.tocCompressedSize;
  if (header.fileSize >= kBundleLimit)
    problems.push_back(MessageText(TOOL_MSG_FILE_BEYOND_LIMIT, (long long)header.fileSize));
  if (payloadEnd > header.fileSize)
    problems.push_back(MessageText(TOOL_MSG_TOC_PAST_END, header.tocCompressedSize));
  // The program in front: a Windows program's resources must be readable as
  // the system reads them (icon, version information, manifest).
  bool windows = false;
  IdentitySummary resources;
  std::string resourceProblem;
  if (!ReadFrontResources(file, header.offset, &windows, &resources, &resourceProblem))
    problems.push_back(resourceProblem);

  const char *message = nullptr;
  if (!OpenPayloadFile(path.c_str(), &message)) {
    problems.push_back(MessageText(TOOL_MSG_NOT_INDEXED, message ? message : TOOL_MSG_UNKNOWN_FAILURE));
    for (std::string &problem : problems) problem = MessageText(TOOL_MSG_AT_FILE, path.c_str(), problem.c_str());
    if (json) {
      PrintVerdict(path, problems, notes, nullptr);
    } else {
      for (const std::string &note : notes) printf("%s\n", note.c_str());
      for (const std::string &problem : problems) PrintError("%s", problem.c_str());
    }
    ClosePayload();
    fclose(file);
    return EXIT_FAILED;
  }
  std::vector<const FileEntry *> entries = AllFileEntries();
  std::vector<const PropertyEntry *> properties = AllProperties();
  std::vector<bool> shadowed = ShadowedEntries(entries);
  int32_t dataStart = GetPayloadEntryDataStart();

  ReaderDictionaries dictionaries;
  std::string error;
  if (!BuildDictionaries(&dictionaries, &error))
    problems.push_back(MessageText(TOOL_MSG_NO_JAVA_DICTIONARY, error.c_str()));

  uint64_t dataSize = 0;
  for (const FileEntry *entry : entries) {
    dataSize += entry->compressedSize;
    const std::vector<unsigned char> &dictionary = JavaDictionaryStage(dictionaries, entry->name);
    std::string problem = CheckEntryData(file, dataStart, entry,
                                         dictionaries.java && !dictionary.empty() ? dictionary.data() : nullptr,
                                         dictionary.size());
    if (!problem.empty())
      problems.push_back(MessageText(TOOL_MSG_ENTRY_PROBLEM, Shown(entry->name).c_str(), problem.c_str()));
  }
  if (dataSize != header.entryDataSize)
    notes.push_back(MessageText(TOOL_MSG_NOTE_DATA_SIZE, path.c_str(), header.entryDataSize,
                                (unsigned long long)dataSize));
  if (entries.size() != header.fileEntryCount)
    notes.push_back(MessageText(TOOL_MSG_NOTE_ENTRY_COUNT, path.c_str(), header.fileEntryCount,
                                entries.size()));

  // Would it run?  A Java bundle needs its front end's two internal classes
  // and the main class; any other bundle is the installer launcher's, which
  // needs both names and both entries.
  const char *msi = FindProperty(PAYLOAD_MSI_KEY);
  const char *exe = FindProperty(PAYLOAD_EXE_KEY);
  FileEntry *found;
  if (dictionaries.java) {
    if (!FindFileEntry(PAYLOAD_CLASS_LOADER_ENTRY, &found, &message))
      problems.push_back(TOOL_MSG_NO_CLASS_LOADER);
    const char *mainClass = FindProperty(JAVA_BUNDLE_MAIN_CLASS_KEY);
    if (!mainClass) {
      problems.push_back(TOOL_MSG_NO_MAIN_CLASS_PROPERTY);
    } else {
      std::string entryName = mainClass;
      std::replace(entryName.begin(), entryName.end(), '.', '/');
      entryName += ".class";
      if (!FindFileEntry(entryName.c_str(), &found, &message))
        problems.push_back(MessageText(TOOL_MSG_MAIN_CLASS_NO_ENTRY, Shown(mainClass).c_str(),
                                       Shown(entryName).c_str()));
    }
  } else {
    for (const char *key : {PAYLOAD_MSI_KEY, PAYLOAD_EXE_KEY})
      if (!FindProperty(key))
        problems.push_back(MessageText(TOOL_MSG_NO_LAUNCHER_NAME, key, key));
    std::vector<unsigned char> start;
    if (exe && FindFileEntry(PAYLOAD_EXE_KEY, &found, &message)) {
      const char *why = nullptr;
      if (found->uncompressedSize == 0)
        problems.push_back(TOOL_MSG_EXE_EMPTY);
      else if (ReadEntryStart(PAYLOAD_EXE_KEY, PE_PROGRAM_START_SIZE, &start) &&
               (why = WhyNoProgram(exe, start.data(), start.size())) != nullptr)
        problems.push_back(MessageText(TOOL_MSG_EXE_ENTRY_NOT_A_PROGRAM, why));
      // The ready bootstrap installs the one .msi beside it, as pack checks.
      if (msi && !start.empty() && IsReadyBootstrap(start.data(), start.size())) {
        std::string second;
        const size_t prefix = sizeof PAYLOAD_FILES_PREFIX - 1;
        for (size_t i = 0; i < entries.size() && second.empty(); i++)
          if (!shadowed[i] && strncmp(entries[i]->name, PAYLOAD_FILES_PREFIX, prefix) == 0 &&
              HasExtension(entries[i]->name, ".msi"))
            second = entries[i]->name + prefix;
        if (!HasExtension(msi, ".msi"))
          problems.push_back(MessageText(TOOL_MSG_BOOTSTRAP_WITHOUT_MSI, Shown(msi).c_str()));
        else if (!second.empty())
          problems.push_back(MessageText(TOOL_MSG_BOOTSTRAP_TWO_MSIS, Shown(second).c_str(), MSG_TWO_MSIS));
      }
    }
  }
  for (const char *key : {PAYLOAD_MSI_KEY, PAYLOAD_EXE_KEY}) {
    const char *value = FindProperty(key);
    if (!value) continue;
    std::string reason;
    if (!IsPlainWindowsFileName(value, &reason))
      problems.push_back(MessageText(TOOL_MSG_PROPERTY_NOT_PLAIN, key, Shown(value).c_str(),
                                     reason.c_str()));
    FileEntry *entry;
    if (!FindFileEntry(key, &entry, &message))
      problems.push_back(MessageText(TOOL_MSG_PROPERTY_WITHOUT_ENTRY, key, key));
  }
  if (msi && exe && SameFileNameIgnoringCase(msi, exe))
    problems.push_back(MessageText(TOOL_MSG_MSI_EXE_SAME_NAME, Shown(msi).c_str(), Shown(exe).c_str()));
  if (!dictionaries.java) {
    // The files that the launcher writes into its folder: the msi, the exe
    // and every entry under files/, none the same file as another.
    std::vector<std::string> written = {msi ? msi : "", exe ? exe : ""};
    const size_t prefix = sizeof PAYLOAD_FILES_PREFIX - 1;
    for (size_t i = 0; i < entries.size(); i++)
      if (!shadowed[i] && strncmp(entries[i]->name, PAYLOAD_FILES_PREFIX, prefix) == 0)
        written.push_back(entries[i]->name + prefix);
    size_t first, second;
    if (!(msi && exe && SameFileNameIgnoringCase(msi, exe)) &&
        FindCollidingNames(written, &first, &second))
      problems.push_back(MessageText(TOOL_MSG_NAMES_COLLIDE, Shown(written[first]).c_str(),
                                     Shown(written[second]).c_str()));
  }
  // A name that is not UTF-8 is no file name and no class or resource name.
  for (const FileEntry *entry : entries) {
    const unsigned char *name = (const unsigned char *)entry->name;
    size_t length = strlen(entry->name);
    for (size_t at = 0, used; at < length; at += used)
      if (DecodeUtf8(name + at, length - at, &used) == UTF8_ILL_FORMED) {
        problems.push_back(MessageText(TOOL_MSG_ENTRY_NAME_NOT_UTF8, Shown(entry->name).c_str()));
        break;
      }
  }
  // The program in front must be the one that runs this kind of bundle: a
  // payload behind a text file, another program or the other front end
  // would never be read.
  std::string front;
  if (!CheckStubKind(path, dictionaries.java ? StubKind::JavaFrontEnd : StubKind::InstallerLauncher,
                     &front, true)) {
    // The text names the path; the problem is shown behind it again.
    std::string prefix = path + ": ";
    problems.push_back(front.compare(0, prefix.size(), prefix) == 0 ? front.substr(prefix.size()) : front);
  }
  bool checksums = PayloadHasEntryChecksums() != 0;
  // Counted as list shows them: every property, the checksums' own included.
  size_t shownProperties = properties.size();
  ClosePayload();
  fclose(file);

  for (std::string &problem : problems) problem = MessageText(TOOL_MSG_AT_FILE, path.c_str(), problem.c_str());
  if (json) {
    VerdictCounts counts = {entries.size(), shownProperties, dictionaries.java, checksums};
    PrintVerdict(path, problems, notes, &counts);
    return problems.empty() ? EXIT_OK : EXIT_FAILED;
  }
  for (const std::string &note : notes) printf("%s\n", note.c_str());
  for (const std::string &problem : problems) PrintError("%s", problem.c_str());
  if (!problems.empty()) return EXIT_FAILED;
  printf(TOOL_MSG_VERIFY_OK "\n", path.c_str(), entries.size(),
         entries.size() == 1 ? TOOL_MSG_ENTRY : TOOL_MSG_ENTRIES, shownProperties,
         shownProperties == 1 ? TOOL_MSG_PROPERTY : TOOL_MSG_PROPERTIES,
         dictionaries.java ? TOOL_MSG_JAVA_DICTIONARIES : TOOL_MSG_NO_DICTIONARIES,
         checksums ? TOOL_MSG_CHECKSUMS_MATCH : TOOL_MSG_NO_CHECKSUMS);
  return EXIT_OK;
}

