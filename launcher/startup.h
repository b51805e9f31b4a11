// Start-up helpers shared by the launcher and the ready msi bootstrap, and the
// table of the calls they make.
#ifndef SATCHEL_STARTUP_H
#define SATCHEL_STARTUP_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// The system calls of startup.cpp, through a table of their own in the manner
// of launcher_calls.h (filled in startup_calls.cpp): both programs link it,
// and it imports nothing that either would not import anyway.
struct StartupCalls {
  // Finding an entry point of kernel32.dll that older systems lack.
  HMODULE(WINAPI *GetModuleHandleW)(const WCHAR *name);
  FARPROC(WINAPI *GetProcAddress)(HMODULE module, const char *name);
};

extern StartupCalls startupCalls;

// From here on, DLLs loaded at run time (by us or by the system on our behalf)
// come from the system folder only.  Where the system lacks the call, nothing
// changes.
void RestrictDllSearchToSystemFolder(void);

// The text behind the program's own name on `commandLine`: blanks before the
// name are skipped, a quoted name runs to the next quote, an unquoted one to
// the first blank, and the blanks behind it are skipped.  Points into
// `commandLine`; empty (not null) when there are no arguments.
const WCHAR *SkipProgramName(const WCHAR *commandLine);

// Appends the NUL-terminated `text` at `*length` in `buffer` of `capacity`
// units and keeps the buffer NUL-terminated.  0 when it does not fit (the
// buffer then holds a cut-off text), else 1.
int AppendText(WCHAR *buffer, DWORD capacity, DWORD *length, const WCHAR *text);

#endif  // SATCHEL_STARTUP_H
