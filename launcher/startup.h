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
  // Whether anyone can see a box, and the failure text's other way out.
  HWINSTA(WINAPI *GetProcessWindowStation)(void);
  BOOL(WINAPI *GetUserObjectInformationW)(HANDLE object, int index, void *information,
                                          DWORD size, DWORD *needed);
  HANDLE(WINAPI *GetStdHandle)(DWORD which);
  BOOL(WINAPI *WriteFile)(HANDLE file, const void *buffer, DWORD toWrite, DWORD *written,
                          OVERLAPPED *overlapped);
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

// The variables through which the launcher tells the packaged program (and
// whatever that starts) the folder that the launcher was started in and the
// bundle's own path; the ready bootstrap runs msiexec in the first.
#define STARTUP_CALLER_FOLDER_VARIABLE L"SATCHEL_CALLER_FOLDER"
#define STARTUP_BUNDLE_PATH_VARIABLE L"SATCHEL_BUNDLE_PATH"

// 1 when one of `arguments` (a command line without the program's name,
// split as the runtime splits it) asks for an installation that nobody
// watches: one of msiexec's quiet switches (/q, /qn and /qb with any of
// "+", "-" and "!" behind, /quiet, /passive; "-" for "/", any case; not
// /qr or /qf, whose dialogs wait for a person), or one of the packager's
// own switches, `ownSwitches` (blank-separated, ASCII, compared ignoring
// case; null for none).
int HasQuietSwitch(const WCHAR *arguments, const char *ownSwitches);

// 0 when the process's window station is not visible (session 0, a
// service): nobody sees a window there.  1 otherwise, also when it cannot be
// told.
int WindowStationVisible(void);

// Where nobody can answer a box (the process's window station is not
// visible, as in session 0 and for services, or `quiet` is set), writes
// `message` and a line end to the standard error handle when there is one
// (a console, a pipe, a file) and returns 1.  Else returns 0: the caller
// shows its box.
int ReportWithoutBox(const char *message, int quiet);

// Appends the NUL-terminated `text` at `*length` in `buffer` of `capacity`
// units and keeps the buffer NUL-terminated.  0 when it does not fit (the
// buffer then holds a cut-off text), else 1.
int AppendText(WCHAR *buffer, DWORD capacity, DWORD *length, const WCHAR *text);

#endif  // SATCHEL_STARTUP_H
