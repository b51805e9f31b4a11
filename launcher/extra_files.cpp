// The packager's extra files: every file entry "files/NAME", extracted beside
// the msi and the exe under NAME (the folder goes whole with them).
#include <string.h>

#include "launcher.h"
#include "payload.h"

struct ExtraFilesWalk {
  WCHAR *path;          // folder path and separator, then the name
  DWORD prefixLength;   // units of the folder path and separator
  const char *failure;  // the first failure's message; later entries are passed over
};

static void VisitExtraFile(const FileEntry *entry, void *context) {
  ExtraFilesWalk *walk = static_cast<ExtraFilesWalk *>(context);
  if (walk->failure != NULL ||
      strncmp(entry->name, PAYLOAD_FILES_PREFIX, sizeof PAYLOAD_FILES_PREFIX - 1) != 0) {
    return;
  }
  // NAME becomes the last path component: the tool packs only plain names,
  // and anything else (a separator, a drive or stream colon, a device name)
  // would write elsewhere than into the folder.
  const char *name = entry->name + (sizeof PAYLOAD_FILES_PREFIX - 1);
  PlainNameCheck check;
  if (!CheckPlainWindowsFileName(name, strlen(name), &check)) {
    walk->failure = MSG_CREATE_FILE_FAILED;
  } else if (MultiByteToWideChar(CP_UTF8, 0, name, -1, walk->path + walk->prefixLength,
                                 LAUNCHER_PATH_CAPACITY - walk->prefixLength) == 0) {
    walk->failure = MSG_CONVERSION_FAILED;
  } else {
    walk->failure = ExtractEntryToFile(walk->path, entry->name);
  }
}

const char *ExtractExtraFiles(WCHAR *path, DWORD prefixLength) {
  ExtraFilesWalk walk = {path, prefixLength, NULL};
  ForEachFileEntry(VisitExtraFile, &walk);
  return walk.failure;
}
