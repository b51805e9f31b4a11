// Copying one payload entry into a new file.
#include "launcher.h"
#include "payload.h"

// The file is created unshared and never overwrites an existing one; it is
// written strictly in order from its first byte and closed before returning.
// On a failure the partly written file, its handle and the stream stay as
// they are (FatalError ends the process).
void ExtractEntryToFile(const WCHAR *path, const char *entryName) {
  unsigned char buffer[512];
  const char *message;

  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    FatalError(MSG_CREATE_FILE_FAILED);
  }

  // The launcher's entries carry no preset dictionary.  The stream's own
  // message is not shown: the user sees ours.
  EntryStream *stream = OpenEntryStream(entryName, NULL, 0, &message);
  if (stream == NULL) {
    FatalError(MSG_EXTRACT_FAILED);
  }

  // A read returns 0 at the end of the entry and may return fewer bytes than
  // asked before it; no lock hooks are installed, so no context is needed.
  for (;;) {
    int count = ReadEntryStream(stream, buffer, sizeof buffer, NULL);
    if (count == 0) {
      break;
    }
    if (count < 0) {
      FatalError(MSG_EXTRACT_FAILED);
    }
    DWORD written = 0;
    if (!WriteFile(file, buffer, (DWORD)count, &written, NULL) || written != (DWORD)count) {
      FatalError(MSG_WRITE_FAILED);
    }
  }

  CloseEntryStream(stream);
  CloseHandle(file);
}
