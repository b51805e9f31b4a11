// The satchel-java front end: what each operating system's half provides to
// the portable road in satchel_java.cpp.  satchel_java_win32.cpp and
// satchel_java_posix.cpp each define every call below; nothing else of the
// front end differs between systems.
//
//   runtime discovery   ExecutableFolder, IsFile, JavaHome, PrepareRuntime,
//                       jvmLibraries, jvmLibraryCount, jvmLibraryNames,
//                       pathSeparator
//   argument decoding   OpenCommandLine, CommandLineArgument, VmOptionArgument,
//                       ApplicationArgument, CloseCommandLine
//   message display     ShowMessage
//   thread start        RunOnOwnThread
#ifndef SATCHEL_SATCHEL_JAVA_H
#define SATCHEL_SATCHEL_JAVA_H

#include <stddef.h>

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

// Readies the process for loading the JVM library at that UTF-8 path (on
// Windows: the runtime's own bin folder joins the DLL search).
void PrepareRuntime(const char *library);

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

// Appends the modified UTF-8 form of code point c (the form that JNI's
// NewStringUTF takes: U+0000 as two bytes, supplementary characters as two
// three-byte surrogates) and returns the new end.  Portable; used by both
// halves' ApplicationArgument.
char *PutModifiedUtf8(char *out, unsigned long c);

// ---- message display ----

// Shows a message of the front end: a warning box on Windows, a line on
// standard error elsewhere.
void ShowMessage(const char *message);

// ---- thread start ----

// Prepares the process (the locale of the arguments on POSIX systems) before
// anything else runs.
void PrepareProcess(void);

// Runs `run` on a new thread with that stack size and waits for it.  Its
// result; -1 when the thread cannot be started.
int RunOnOwnThread(size_t stackSize, int (*run)(void));

#endif  // SATCHEL_SATCHEL_JAVA_H
