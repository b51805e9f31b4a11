// The packager's extra files: every file entry "files/NAME", extracted beside
// the msi and the exe under NAME and deleted with them.
#include <string.h>

#include "launcher.h"
#include "payload.h"

struct ExtraFilesWalk {
  WCHAR *path;          // folder path and separator, then the name
  DWORD prefixLength;   // units of the folder path and separator
  int extract;          // 1: extract, 0: delete
};

static void VisitExtraFile(const FileEntry *entry, void *context) {
  ExtraFilesWalk *walk = static_cast<ExtraFilesWalk *>(context);
  if (strncmp(entry->name, LAUNCHER_FILES_PREFIX, LAUNCHER_FILES_PREFIX_LENGTH) != 0) {
    return;
  }
  // NAME becomes the last path component: the tool packs only plain names,
  // and anything else (a separator, a drive or stream colon, a device name)
  // would write elsewhere than into the folder.
  const char *name = entry->name + LAUNCHER_FILES_PREFIX_LENGTH;
  PlainNameCheck check;
  if (!CheckPlainWindowsFileName(name, strlen(name), &check)) {
    FatalError(MSG_CREATE_FILE_FAILED);
  }
  if (MultiByteToWideChar(CP_UTF8, 0, name, -1, walk->path + walk->prefixLength,
                          LAUNCHER_PATH_CAPACITY - walk->prefixLength) == 0) {
    FatalError(MSG_CONVERSION_FAILED);
  }
  if (walk->extract) {
    ExtractEntryToFile(walk->path, entry->name);
  } else {
    DeleteFileW(walk->path);
  }
}

void ExtractExtraFiles(WCHAR *path, DWORD prefixLength, int extract) {
  ExtraFilesWalk walk = {path, prefixLength, extract};
  ForEachFileEntry(VisitExtraFile, &walk);
}
