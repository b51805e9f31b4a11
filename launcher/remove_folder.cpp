// Removing the launcher's folder with whatever the packaged program left in
// it (logs, temporary files, folders of its own).
#include "launcher.h"
#include "startup.h"

// What the search reports for the folder itself and its parent.
static int IsDotName(const WCHAR *name) {
  return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

// Removes the one entry at `path`: an empty folder or a link listed as one
// (`folder` 1), else a file; a link goes itself, with what it points to
// untouched.  A read-only entry is made writable first.  On the last pass,
// what cannot go now is left to the next restart.  1 when gone.
static int RemoveEntry(const WCHAR *path, DWORD attributes, int folder, int lastPass) {
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  if (folder ? RemoveDirectoryW(path) : DeleteFileW(path)) {
    return 1;
  }
  if (lastPass) {
    MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  return 0;
}

// One pass over the folder `path` (`length` units): every entry below it,
// depth first, then the folder.  Only a real folder is entered; a junction
// or a symbolic link to a folder carries FILE_ATTRIBUTE_REPARSE_POINT and is
// removed as a link.  1 when the folder is gone.
static int RemoveTree(WCHAR *path, DWORD length, DWORD attributes, int lastPass) {
  WIN32_FIND_DATAW found;
  DWORD at = length;
  if (AppendText(path, LAUNCHER_PATH_CAPACITY, &at, L"\\*")) {
    HANDLE search = FindFirstFileW(path, &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        at = length + 1;
        if (IsDotName(found.cFileName) ||
            !AppendText(path, LAUNCHER_PATH_CAPACITY, &at, found.cFileName)) {
          continue;
        }
        DWORD kind = found.dwFileAttributes;
        if ((kind & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(path, at, kind, lastPass);
        } else {
          RemoveEntry(path, kind, (kind & FILE_ATTRIBUTE_DIRECTORY) != 0, lastPass);
        }
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
  }
  path[length] = 0;
  return RemoveEntry(path, attributes, 1, lastPass);
}

void RemoveFolder(WCHAR *path, DWORD length) {
  for (int pass = 1; !RemoveTree(path, length, 0, pass == LAUNCHER_REMOVE_PASSES); pass++) {
    if (pass == LAUNCHER_REMOVE_PASSES) {
      break;
    }
    Sleep(LAUNCHER_REMOVE_PAUSE_MS);
  }
}
