// The satchel-java front end: what each operating system's half provides to
// the portable road in satchel_java.cpp.  satchel_java_win32.cpp and
// satchel_java_posix.cpp each define every call below; nothing else of the
// front end differs between systems.
//
//   runtime discovery   ExecutableFolder, IsFile, JavaHome, OpenForReading,
//                       FindInstalledRuntime, PrepareRuntime, LibraryMachine,
//                       SystemLoadError, jvmLibraries, jvmLibraryCount,
//                       jvmLibraryNames, pathSeparator, ownMachine
//   argument decoding   OpenCommandLine, CommandLineArgument, VmOptionArgument,
//                       ApplicationArgument, CloseCommandLine
//   message display     ShowMessage
//   thread start        RunOnOwnThread
#ifndef SATCHEL_SATCHEL_JAVA_H
#define SATCHEL_SATCHEL_JAVA_H

#include <stddef.h>
#include <stdio.h>

// ---- runtime discovery ----

// The JVM library's place under a runtime's home folder, in the order tried
// (the layout of Java 9 and later first, then those of Java 8), and the same
// for the message that lists where a runtime was looked for.
extern const char *const jvmLibraries[];
extern const size_t jvmLibraryCount;
extern const char jvmLibraryNames[];
extern const char pathSeparator[];

// The folder that holds the running executable, with a trailing separator, as
// a heap string (UTF-8); null when it cannot be told.
char *ExecutableFolder(void);

// 1 when the UTF-8 path names an existing file (not a folder).
int IsFile(const char *path);

// The value of JAVA_HOME in UTF-8 as a heap string, or null when it is not
// set or empty.
char *JavaHome(void);

// A UTF-8 path opened for binary reading; null when it cannot be.
FILE *OpenForReading(const char *path);

// After the folders beside the executable and JAVA_HOME: the runtimes that
// the system knows of (Windows: the registry; elsewhere: the java on the
// PATH), each through TryRuntimeHome.  The JVM library's path as a heap
// string, or null.  On Windows *legacyKey is set instead when StartJavaVm's
// own registry key is there and its runtime recent enough: StartJavaVm then
// reads that key itself, before the keys of current installers.
char *FindInstalledRuntime(int *legacyKey);

// Readies the process for loading the JVM library at that UTF-8 path (on
// Windows: the runtime's own bin folder joins the DLL search).
void PrepareRuntime(const char *library);

// The machine that a library's header names (the PE header on Windows, the
// ELF header elsewhere), from the file's first `size` bytes; null when the
// header is not one of those or names a machine not known here.  ownMachine
// is this program's.
const char *LibraryMachine(const unsigned char *head, size_t size);
extern const char ownMachine[];

// The system's reason why the library at that UTF-8 path does not load (it
// is tried once more), in UTF-8; points into a static buffer.
const char *SystemLoadError(const char *path);

// ---- the portable road's helpers for the halves ----

// A heap copy of the concatenation of up to four strings (null ones count as
// empty); null when out of memory.
char *JoinStrings(const char *a, const char *b, const char *c, const char *d);

// The feature release of a Java version text: "17.0.2" gives 17, "1.8.0_292"
// gives 8; 0 when the text starts with no number.
int ReleaseOfVersion(const char *version);

// 1 when a runtime of that release (0: not known) may run the bundle;
// otherwise it goes, with the label, to the list of runtimes passed over.
int RecentEnough(const char *label, int release);

// The JVM library of the runtime under `home` when there is one and it is
// recent enough (`release` as the system says, else from the runtime's
// release file), as a heap string; null otherwise, with the label noted among
// the places looked at or the runtimes passed over.
char *TryRuntimeHome(const char *home, const char *label, int release);

// Adds text to the list of places looked at.
void NoteLookedAt(const char *text);

// ---- argument decoding ----

// Takes the process's own arguments (the real UTF-16 command line on Windows,
// argv elsewhere).  The count of arguments behind the program name, or -1
// when out of memory.
int OpenCommandLine(int argc, char **argv);

// A heap copy of argument `index` (0 is the first behind the program name) in
// UTF-8; null when out of memory.
char *CommandLineArgument(int index);

// A heap copy of a "-J" argument in the encoding that the runtime expects of
// its options (the ANSI code page on Windows, the bytes as given elsewhere).
char *VmOptionArgument(int index, const char *given);

// A heap copy, in modified UTF-8, of an application argument (`given`, as
// CommandLineArgument returned it): decoded from UTF-8 on Windows, from the
// locale's encoding elsewhere, a byte that starts no character becoming
// U+FFFD.  Null when out of memory.
char *ApplicationArgument(const char *given);

void CloseCommandLine(void);

// ---- message display ----

// Shows a message of the front end (UTF-8, or JNI's modified UTF-8): on
// standard error where a reader will see it, else in a warning box on
// Windows; an executable of the GUI subsystem always shows a box.
void ShowMessage(const char *message);

// ---- thread start ----

// Prepares the process before anything else runs: the locale of the
// arguments on POSIX systems, the DLL search restricted to the system folder
// on Windows.
void PrepareProcess(void);

// Runs `run` on a new thread with that stack size and waits for it.  Its
// result; -1 when the thread cannot be started.
int RunOnOwnThread(size_t stackSize, int (*run)(void));

#endif  // SATCHEL_SATCHEL_JAVA_H
