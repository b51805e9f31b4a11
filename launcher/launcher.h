// The installer launcher: the program's one entry path.
//
//   WinMain             launcher_main.cpp   payload, temporary GUID folder, the two paths;
//                                           the one place that cleans up after a failure
//   ExtractEntryToFile  extract.cpp         one payload entry into a new file
//   ExtractExtraFiles   extra_files.cpp     the entries under "files/", beside the two
//   LaunchAndWait       job.cpp             start the program in a job, wait for the job
//                                           to empty, hand back the program's exit code
//   StartProgress ...   progress.cpp        the progress window of a bundle that asks
//                                           for one, while extraction runs
//   RemoveFolder        remove_folder.cpp   the GUID folder and everything in it
//   FatalError          launcher_main.cpp   warning box, exit code 1
//
// Everything runs on the main thread.  The launcher keeps its paths and
// handles in its own frames and allocates nothing on the heap.  Operations
// report a failure by returning its message (null on success) and leave
// nothing open behind them; only WinMain calls FatalError, once it has
// removed the folder (when it exists and no program of the bundle may still
// run from it).  FatalError itself undoes nothing.  The packaged program
// while it is still suspended (not yet a member of the job, or not resumed)
// is ended before the failure is returned, since it would never run and
// never end.  Where each system call lives: launcher_calls.h.
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

// A bundle with the property PAYLOAD_PROGRESS_KEY shows its value (UTF-8, at most
// LAUNCHER_PROGRESS_TEXT_CAPACITY - 1 units) in a small window with a
// progress bar once extraction has run for LAUNCHER_PROGRESS_DELAY_MS,
// until it ends; never when the run is quiet or nobody sees the window.
#define LAUNCHER_PROGRESS_TEXT_CAPACITY 256
#define LAUNCHER_PROGRESS_DELAY_MS 500

// A temporary path of this many characters or more is refused, so that at
// least 1000 units stay for the separator, the GUID folder and a file name.
#define LAUNCHER_TEMP_PATH_LIMIT 3096

// The security of an elevated launcher's folder: a protected DACL (nothing
// inherited from %TEMP%) with full control for SYSTEM and Administrators,
// inherited by the files and folders inside.
#define LAUNCHER_ELEVATED_FOLDER_SDDL "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"

// Removing the folder: a pass that leaves something (a file still held open
// by a process outside the job, such as a virus scanner or the installer
// service) is tried again after a pause, this many passes in all.
#define LAUNCHER_REMOVE_PASSES 5
#define LAUNCHER_REMOVE_PAUSE_MS 200

// Shows the message (ANSI code page) in a warning box with the system's
// default caption, waits until the user closes it and ends the process with
// exit code 1.  Cleans nothing up.
[[noreturn]] void FatalError(const char *message);

// Creates `path` (which must not exist yet) and writes the inflated content of
// the payload entry `entryName` into it, in order from its first byte.
// Returns null with the file complete and closed, else the failure's message,
// with the file closed as far as it was written.
const char *ExtractEntryToFile(const WCHAR *path, const char *entryName);

// Extracts every file entry "files/NAME" in table order, at `path`: a buffer
// of LAUNCHER_PATH_CAPACITY units that starts with the folder path and a
// separator, `prefixLength` units long.  A NAME that is no plain Windows file
// name (a separator, a colon, a device name, ...) fails with "Failed to
// create file".  Null on success, else the first failure's message.
const char *ExtractExtraFiles(WCHAR *path, DWORD prefixLength);

// Starts `exePath` suspended in `folderPath`, makes it a member of a new job,
// resumes it and waits until no process of the job is left.  `arguments`
// null: the program gets no arguments; else its command line is its quoted
// path, a space and `arguments` (nothing behind the path when `arguments` is
// empty).  Null after the wait, with `*exitCode` the exit code of the
// program's own process; else the failure's message (the formatted ones in a
// buffer of this file that lives until exit).  `*programMayRun` is always
// written: 1 when a process of the bundle may still run (the process list
// could not be read, or not to its end), else 0.
const char *LaunchAndWait(const WCHAR *folderPath, const WCHAR *exePath, const WCHAR *arguments,
                          DWORD *exitCode, DWORD *programMayRun);

// The first live process of the snapshot's order that is a member of `job`,
// opened for waiting (the caller closes it), or null when there is none.
// `*enumerationFailed` is always written: 1 when the process list could not
// be had or ended with an error rather than at its end, else 0; `*message`
// is "Failed to take snapshot" when no list could be had, else null.
HANDLE FindJobProcess(HANDLE job, DWORD *enumerationFailed, const char **message);

// The progress window: StartProgress before extraction, with the text to
// show or null for none; AdvanceProgress after every block written, with its
// bytes (it shows the window once the delay has passed, moves the bar and
// handles the window's messages); EndProgress when extraction ends, however
// it ends (it closes the window, if one was shown).
void StartProgress(const char *text);
void AdvanceProgress(DWORD bytes);
void EndProgress(void);

// Removes the folder `path` (`length` units, no trailing separator, in a
// buffer of LAUNCHER_PATH_CAPACITY units that it writes beyond `length` and
// leaves as it found it) with everything in it.  A reparse point (a junction,
// a symbolic link) is removed itself, never entered.  Whatever cannot be
// removed after LAUNCHER_REMOVE_PASSES passes is left to the system to
// delete at the next restart, where the launcher may ask for that (an
// elevated one); otherwise it stays.
void RemoveFolder(WCHAR *path, DWORD length);

#endif  // SATCHEL_LAUNCHER_H
