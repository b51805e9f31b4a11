// The installer launcher: the program's one entry path.
//
//   WinMain             launcher_main.cpp   payload, temporary GUID folder, the two paths
//   ExtractEntryToFile  extract.cpp         one payload entry into a new file
//   ExtractExtraFiles   extra_files.cpp     the entries under "files/", beside the two
//   LaunchAndWait       job.cpp             start the program in a job, wait for the job
//                                           to empty, delete the files and the folder,
//                                           hand back the program's exit code
//   FatalError          launcher_main.cpp   warning box, exit code 1
//
// Everything runs on the main thread.  The launcher keeps its paths and
// handles in its own frames and allocates nothing on the heap.  Every failure
// ends the process in FatalError and undoes nothing: folders and files stay
// as they are.  The one exception is the packaged program while it is still
// suspended (not yet a member of the job, or not resumed): it is ended first,
// since it would never run and never end.  Where each system call lives:
// launcher_calls.h.
#ifndef SATCHEL_LAUNCHER_H
#define SATCHEL_LAUNCHER_H

#include "launcher_calls.h"
#include "launcher_messages.h"

// Every path handed to the system lives in a buffer of this many UTF-16 units.
#define LAUNCHER_PATH_CAPACITY 4096

// The longest command line the system takes, its NUL included.
#define LAUNCHER_COMMAND_LINE_CAPACITY 32767

// Extracted files are written in blocks of this many bytes (under wine each
// write is a round trip to the server; see bench/RESULTS.md).  A benchmark
// build may set another size.
#ifndef LAUNCHER_WRITE_BLOCK
#define LAUNCHER_WRITE_BLOCK 65536
#endif

// A bundle with this property, of the value "1", has the launcher hand its
// own arguments on to the packaged program; without it the program gets none.
#define LAUNCHER_PASS_ARGUMENTS_KEY "pass-arguments"

// File entries named "files/NAME" are extracted beside the msi and the exe
// under NAME, a plain file name, and deleted with them.
#define LAUNCHER_FILES_PREFIX "files/"
#define LAUNCHER_FILES_PREFIX_LENGTH 6

// A temporary path of this many characters or more is refused, so that at
// least 1000 units stay for the separator, the GUID folder and a file name.
#define LAUNCHER_TEMP_PATH_LIMIT 3096

// The security of an elevated launcher's folder: a protected DACL (nothing
// inherited from %TEMP%) with full control for SYSTEM and Administrators,
// inherited by the files and folders inside.
#define LAUNCHER_ELEVATED_FOLDER_SDDL "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"

// Shows the message (ANSI code page) in a warning box with the system's
// default caption, waits until the user closes it and ends the process with
// exit code 1.  Cleans nothing up.
[[noreturn]] void FatalError(const char *message);

// Creates `path` (which must not exist yet) and writes the inflated content of
// the payload entry `entryName` into it, in order from its first byte.
// Returns only on success, with the file complete and closed.
void ExtractEntryToFile(const WCHAR *path, const char *entryName);

// Extracts (`extract` 1) or deletes (0) every file entry "files/NAME" in
// table order, at `path`: a buffer of LAUNCHER_PATH_CAPACITY units that
// starts with the folder path and a separator, `prefixLength` units long.
// On extraction a NAME that is no plain Windows file name (a separator, a
// colon, a device name, ...) fails with "Failed to create file"; deletion
// examines no result.
void ExtractExtraFiles(WCHAR *path, DWORD prefixLength, int extract);

// Starts `exePath` suspended in `folderPath`, makes it a member of a new job,
// resumes it and waits until no process of the job is left; then deletes the
// msi file, the exe file, the extra files and the folder, unless the process
// list could not be read to its end.  `arguments` null: the program gets no
// arguments; else its command line is its quoted path, a space and
// `arguments` (nothing behind the path when `arguments` is empty).  Returns
// the exit code of the program's own process.
DWORD LaunchAndWait(const WCHAR *folderPath, const WCHAR *msiPath, const WCHAR *exePath,
                    const WCHAR *arguments, WCHAR *extraPath, DWORD prefixLength);

// The first live process of the snapshot's order that is a member of `job`,
// opened for waiting (the caller closes it), or null when there is none.
// `*enumerationFailed` is always written: 1 when the process list ended with
// an error rather than at its end, else 0.
HANDLE FindJobProcess(HANDLE job, DWORD *enumerationFailed);

#endif  // SATCHEL_LAUNCHER_H
