// Opens a bundle with the payload library and looks up every file entry by
// name, as a reader of many entries (a Java application's classes) does.
// Prints the number of names found; exit status 1 when a lookup fails.
//
//   index_bench BUNDLE
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "payload.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: index_bench BUNDLE\n");
    return 2;
  }
  const char *message = nullptr;
  if (!OpenPayloadFile(argv[1], &message)) {
    fprintf(stderr, "index_bench: %s: %s\n", argv[1], message);
    return 1;
  }
  // The names in table order, copied out first so that every lookup starts
  // from a plain string, as a caller's would.
  std::vector<std::string> names;
  ForEachFileEntry([](const FileEntry *entry, void *context) {
    static_cast<std::vector<std::string> *>(context)->push_back(entry->name);
  }, &names);
  size_t found = 0;
  for (const std::string &name : names) {
    FileEntry *entry = nullptr;
    if (!FindFileEntry(name.c_str(), &entry, &message) || strcmp(entry->name, name.c_str()) != 0) {
      fprintf(stderr, "index_bench: lookup of %s failed\n", name.c_str());
      return 1;
    }
    ++found;
  }
  printf("%zu names looked up, %u buckets\n", found, GetPayloadBucketCount());
  return 0;
}
