// What the reading commands of the bundle tool (list, extract, verify) share:
// the header as a reader finds it, the index seen through the payload library,
// the preset dictionaries a reader sets, and the arguments of a command.
#ifndef SATCHEL_BUNDLE_READING_H
#define SATCHEL_BUNDLE_READING_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "bundle_identity.h"
#include "bundle_writer.h"
#include "payload.h"

// The header as a reader finds it: the first 512-byte block start holding the
// magic and a matching CRC.
// Its fields are the PayloadHeader's (all 0 until one is found).
struct HeaderInfo : PayloadHeader {
  HeaderInfo() : PayloadHeader() {}
  int64_t offset = -1;
  int64_t fileSize = 0;
  std::vector<int64_t> badCrcBlocks;  // block starts with the magic but a wrong CRC
};

// Looks for the header itself rather than through the library, so that it can
// report the blocks with the magic that a reader passes over.  False with
// *error saying why no header counts.
bool ScanHeader(FILE *file, HeaderInfo *header, std::string *error);

// What list and verify do first: checks that `path` can be read as a file,
// opens it and finds its header.  The open file (the caller closes it), or
// null after printing why, with nothing left open.
// With `failure`, why goes there (as PrintError would show it, without the
// tool's name) instead of to standard error.
FILE *OpenBundleHeader(const std::string &path, HeaderInfo *header,
                       std::string *failure = nullptr);

// What the executable in front of the payload (the bytes before the header
// at `imageEnd`) shows of its resources.  *windows is false for a front end
// that is no Windows program (it has none).  False with *problem when its
// resource section is not well formed.
bool ReadFrontResources(FILE *file, int64_t imageEnd, bool *windows, IdentitySummary *summary,
                        std::string *problem);

// Indexes the bundle through the payload library, as a launcher would; false
// after printing why (nothing of the index stays open then).
bool OpenIndex(const std::string &path);

// Views of the open index: file entries in table order, properties in table
// order (the index keeps those in reverse).
std::vector<const FileEntry *> AllFileEntries();
std::vector<const PropertyEntry *> AllProperties();

// True when the open bundle holds the InternalInputStream entry (a Java bundle).
bool IsJavaBundle();

// Marks entries that a reader never finds (an earlier one has the same name)
// and properties that a later one of the same key hides.
std::vector<bool> ShadowedEntries(const std::vector<const FileEntry *> &entries);
std::vector<bool> ShadowedProperties(const std::vector<const PropertyEntry *> &properties);

// The preset dictionaries a reader sets, cut to the inflater's window; the
// one for an entry is JavaDictionaryStage's (bundle_writer.h), and none in
// an installer bundle.
struct ReaderDictionaries : JavaDictionaryStages {
  bool java = false;
};

// Builds the dictionaries of the open bundle as Java hosting does, reading the
// two class entries through entry streams.  False with *error on a failed read.
bool BuildDictionaries(ReaderDictionaries *dictionaries, std::string *error);

// Reads the arguments of a command that takes one BUNDLE and, where `json`
// is given, the flag --json.  -1 to go on; otherwise the exit status (help
// printed, or a usage error reported).
int ParseBundleArguments(const char *command, const char *usage, int argc, char **argv,
                         std::string *path, bool *json);

#endif  // SATCHEL_BUNDLE_READING_H
