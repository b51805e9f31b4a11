// The installer launcher: the program's one entry path.
//
//   WinMain             launcher_main.cpp   payload, temporary GUID folder, the two paths
//   ExtractEntryToFile  extract.cpp         one payload entry into a new file
//   LaunchAndWait       job.cpp             start the program in a job, wait for the job
//                                           to empty, delete the files and the folder
//   FatalError          launcher_main.cpp   warning box, exit code 1
//
// Everything runs on the main thread.  The launcher keeps its paths and
// handles in its own frames and allocates nothing on the heap.  Every failure
// ends the process in FatalError and undoes nothing: folders, files and
// suspended processes stay as they are.
#ifndef SATCHEL_LAUNCHER_H
#define SATCHEL_LAUNCHER_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "launcher_messages.h"

// Every path handed to the system lives in a buffer of this many UTF-16 units.
#define LAUNCHER_PATH_CAPACITY 4096

// A temporary path of this many characters or more is refused, so that at
// least 1000 units stay for the separator, the GUID folder and a file name.
#define LAUNCHER_TEMP_PATH_LIMIT 3096

// Shows the message (ANSI code page) in a warning box with the system's
// default caption, waits until the user closes it and ends the process with
// exit code 1.  Cleans nothing up.
[[noreturn]] void FatalError(const char *message);

// Creates `path` (which must not exist yet) and writes the inflated content of
// the payload entry `entryName` into it, 512 bytes at a time.  Returns only on
// success, with the file complete and closed.
void ExtractEntryToFile(const WCHAR *path, const char *entryName);

// Starts `exePath` suspended with no arguments in `folderPath`, makes it a
// member of a new job, resumes it and waits until no process of the job is
// left; then deletes the msi file, the exe file and the folder, unless the
// process list could not be read to its end.
void LaunchAndWait(const WCHAR *folderPath, const WCHAR *msiPath, const WCHAR *exePath);

// The first live process of the snapshot's order that is a member of `job`,
// opened for waiting (the caller closes it), or null when there is none.
// `*enumerationFailed` is always written: 1 when the process list ended with
// an error rather than at its end, else 0.
HANDLE FindJobProcess(HANDLE job, DWORD *enumerationFailed);

#endif  // SATCHEL_LAUNCHER_H
