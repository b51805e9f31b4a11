// Copying one payload entry into a new file.
#include "launcher.h"
#include "payload.h"

// The file is created unshared and never overwrites an existing one; it is
// written strictly in order from its first byte and closed before returning,
// also on a failure (the entry's own message is not shown: the user sees
// ours).  What was written then stays for WinMain to remove.
const char *ExtractEntryToFile(const WCHAR *path, const char *entryName) {
  unsigned char buffer[LAUNCHER_WRITE_BLOCK];
  DWORD filled = 0;
  const char *message;
  const char *failure = NULL;

  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    return MSG_CREATE_FILE_FAILED;
  }

  // The launcher's entries carry no preset dictionary.
  EntryStream *stream = OpenEntryStream(entryName, NULL, 0, &message);
  if (stream == NULL) {
    CloseHandle(file);
    return MSG_EXTRACT_FAILED;
  }

  // A read returns 0 at the end of the entry and may return fewer bytes than
  // asked before it; no lock hooks are installed, so no context is needed.
  // Reads gather in the buffer, which goes out whole, and at the end with
  // whatever it holds: fewer, larger writes of the same bytes.
  for (;;) {
    int count = ReadEntryStream(stream, buffer + filled, sizeof buffer - filled, NULL);
    if (count < 0) {
      failure = MSG_EXTRACT_FAILED;
      break;
    }
    filled += (DWORD)count;
    if (count != 0 && filled < sizeof buffer) {
      continue;
    }
    DWORD written = 0;
    if (filled != 0 && (!WriteFile(file, buffer, filled, &written, NULL) || written != filled)) {
      failure = MSG_WRITE_FAILED;
      break;
    }
    AdvanceProgress(filled);
    if (count == 0) {
      break;
    }
    filled = 0;
  }

  CloseEntryStream(stream);
  CloseHandle(file);
  return failure;
}
