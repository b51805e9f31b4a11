// What the reading commands share: the header scan, the index seen through
// the payload library, the reader's preset dictionaries, command arguments.
#include "bundle_reading.h"

#include <errno.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>

#include "pe_image.h"
#include "pe_resources.h"
#include "satchel_commands.h"
#include "shown_text.h"
#include "tool_files.h"
#include "tool_messages.h"

namespace {

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
    if (tail->size() > 2 * PAYLOAD_DICTIONARY_WINDOW) tail->erase(tail->begin(), tail->end() - PAYLOAD_DICTIONARY_WINDOW);
  }
  if (n < 0) GetEntryStreamStatus(stream, &message);
  uint32_t remaining = GetEntryStreamRemaining(stream);
  CloseEntryStream(stream);
  if (n < 0 || remaining != 0) {
    *error = n < 0 && message ? message : TOOL_MSG_ENDS_BEFORE_SIZE;
    return false;
  }
  if (tail->size() > PAYLOAD_DICTIONARY_WINDOW) tail->erase(tail->begin(), tail->end() - PAYLOAD_DICTIONARY_WINDOW);
  return true;
}

std::vector<unsigned char> Tail(std::vector<unsigned char> bytes) {
  if (bytes.size() > PAYLOAD_DICTIONARY_WINDOW) bytes.erase(bytes.begin(), bytes.end() - PAYLOAD_DICTIONARY_WINDOW);
  return bytes;
}

}  // namespace

bool ScanHeader(FILE *file, HeaderInfo *header, std::string *error) {
  header->fileSize = FileSize(file);
  if (header->fileSize < 0 || !SeekFile(file, 0)) {
    *error = TOOL_MSG_SIZE_UNKNOWN;
    return false;
  }
  unsigned char block[PAYLOAD_BLOCK_SIZE];
  for (int64_t at = 0;; at += PAYLOAD_BLOCK_SIZE) {
    size_t got = fread(block, 1, sizeof block, file);
    if (got < PAYLOAD_HEADER_SIZE) break;
    PayloadHeader fields;
    int found = DecodePayloadHeader(block, &fields);
    if (found == PAYLOAD_HEADER_ABSENT) continue;
    header->headerCrc = fields.headerCrc;
    if (found == PAYLOAD_HEADER_BAD_CRC) {
      header->badCrcBlocks.push_back(at);
      continue;
    }
    header->offset = at;
    static_cast<PayloadHeader &>(*header) = fields;
    return true;
  }
  if (ferror(file)) {
    *error = TOOL_MSG_READ_FAILED;
    return false;
  }
  *error = header->badCrcBlocks.empty()
               ? TOOL_MSG_NO_HEADER
               : MessageText(TOOL_MSG_NO_HEADER_BAD_CRC, (long long)header->badCrcBlocks[0]);
  return false;
}

FILE *OpenBundleHeader(const std::string &path, HeaderInfo *header, std::string *failure) {
  uint64_t size = 0;
  std::string problem, why;
  FILE *file = nullptr;
  if (!CheckInputFile(path, &size, &problem)) {
    why = problem;
  } else if (!(file = OpenFileForReading(path))) {
    why = MessageText(TOOL_MSG_CANNOT_OPEN, path.c_str(), strerror(errno));
  } else if (!ScanHeader(file, header, &problem)) {
    why = MessageText(TOOL_MSG_AT_FILE, path.c_str(), problem.c_str());
    fclose(file);
    file = nullptr;
  }
  if (!file) {
    if (failure)
      *failure = why;
    else
      PrintError("%s", why.c_str());
  }
  return file;
}

bool ReadFrontResources(FILE *file, int64_t imageEnd, bool *windows, IdentitySummary *summary,
                        std::string *problem) {
  *windows = false;
  *summary = IdentitySummary();
  // A front end's image is small; what is read of it stays bounded whatever
  // the bundle holds.
  const int64_t kLimit = 64 << 20;
  std::vector<unsigned char> image((size_t)std::min(imageEnd, kLimit));
  if (!SeekFile(file, 0) || fread(image.data(), 1, image.size(), file) != image.size()) {
    *problem = TOOL_MSG_READ_FAILED;
    return false;
  }
  PeImage pe;
  if (!ReadPeImageBytes(image.data(), image.size(), &pe)) return true;
  *windows = true;
  std::vector<Resource> resources;
  std::string why;
  if (!ReadResources(image, pe, &resources, &why) ||
      !SummarizeIdentity(resources, summary, &why)) {
    *problem = MessageText(TOOL_MSG_RESOURCES_BROKEN, why.c_str());
    return false;
  }
  return true;
}

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
  uint64_t size = 0;
  std::string problem;
  if (!CheckInputFile(path, &size, &problem)) {
    PrintError("%s", problem.c_str());
    return false;
  }
  const char *message = nullptr;
  if (!OpenPayloadFile(path.c_str(), &message)) {
    PrintError(TOOL_MSG_AT_FILE, path.c_str(), message ? message : TOOL_MSG_CANNOT_OPEN_PAYLOAD);
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
    *error = MessageText(TOOL_MSG_ENTRY_PROBLEM, PAYLOAD_INPUT_STREAM_ENTRY, error->c_str());
    return false;
  }
  all = dictionaries->stage1;
  all.insert(all.end(), content.begin(), content.end());
  dictionaries->stage2 = Tail(all);
  FileEntry *entry;
  const char *message;
  if (FindFileEntry(PAYLOAD_CLASS_LOADER_ENTRY, &entry, &message)) {
    if (!ReadEntryTail(PAYLOAD_CLASS_LOADER_ENTRY, dictionaries->stage2, &content, error)) {
      *error = MessageText(TOOL_MSG_ENTRY_PROBLEM, PAYLOAD_CLASS_LOADER_ENTRY, error->c_str());
      return false;
    }
    all = dictionaries->stage2;
    all.insert(all.end(), content.begin(), content.end());
  }
  dictionaries->stage3 = Tail(all);
  return true;
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
      PrintError(TOOL_MSG_UNEXPECTED_ARGUMENT, command, arg.c_str(), command);
      return EXIT_USAGE;
    }
  }
  if (path->empty()) {
    PrintError(TOOL_MSG_NEEDS_BUNDLE, command, command);
    return EXIT_USAGE;
  }
  return -1;
}
