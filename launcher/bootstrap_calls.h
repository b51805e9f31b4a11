// The ready bootstrap's system calls, through one table, in the manner of the
// launcher's (launcher_calls.h): code calls them by their Windows names, each
// a macro for the entry of that name in `bootstrapCalls`, which starts as the
// system's own calls (bootstrap_calls.cpp).  A table of its own, so that the
// bootstrap imports only from kernel32.dll and user32.dll, as it did before
// it had one; the two calls of the shared start-up code are startup.h's.  A
// test build of the bootstrap links one more file that replaces entries
// before WinMain runs; the release bootstrap links no such file, and nothing
// outside the process can change the table.
#ifndef SATCHEL_BOOTSTRAP_CALLS_H
#define SATCHEL_BOOTSTRAP_CALLS_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

struct BootstrapCalls {
  // The warning box and the exit of wrong use.
  int(WINAPI *MessageBoxA)(HWND owner, const char *text, const char *caption, UINT type);
  void(WINAPI *ExitProcess)(UINT code);
  // The program's own folder and the msi in it.
  DWORD(WINAPI *GetModuleFileNameW)(HMODULE module, WCHAR *buffer, DWORD size);
  HANDLE(WINAPI *FindFirstFileW)(const WCHAR *pattern, WIN32_FIND_DATAW *found);
  BOOL(WINAPI *FindNextFileW)(HANDLE search, WIN32_FIND_DATAW *found);
  BOOL(WINAPI *FindClose)(HANDLE search);
  // msiexec.exe in the system folder.
  UINT(WINAPI *GetSystemDirectoryW)(WCHAR *buffer, UINT capacity);
  DWORD(WINAPI *GetFileAttributesW)(const WCHAR *path);
  // Running it with our own arguments in the caller's folder, and its exit
  // code.
  WCHAR *(WINAPI *GetCommandLineW)(void);
  DWORD(WINAPI *GetEnvironmentVariableW)(const WCHAR *name, WCHAR *buffer, DWORD capacity);
  BOOL(WINAPI *CreateProcessW)(const WCHAR *application, WCHAR *commandLine,
                               SECURITY_ATTRIBUTES *processSecurity,
                               SECURITY_ATTRIBUTES *threadSecurity, BOOL inheritHandles,
                               DWORD flags, void *environment, const WCHAR *folder,
                               STARTUPINFOW *startup, PROCESS_INFORMATION *process);
  DWORD(WINAPI *WaitForSingleObject)(HANDLE handle, DWORD milliseconds);
  BOOL(WINAPI *GetExitCodeProcess)(HANDLE process, DWORD *code);
  BOOL(WINAPI *CloseHandle)(HANDLE handle);
};

extern BootstrapCalls bootstrapCalls;

#ifndef PLATFORM_DEFINES_TABLE
#define MessageBoxA(...) bootstrapCalls.MessageBoxA(__VA_ARGS__)
#define ExitProcess(...) bootstrapCalls.ExitProcess(__VA_ARGS__)
#define GetModuleFileNameW(...) bootstrapCalls.GetModuleFileNameW(__VA_ARGS__)
#define FindFirstFileW(...) bootstrapCalls.FindFirstFileW(__VA_ARGS__)
#define FindNextFileW(...) bootstrapCalls.FindNextFileW(__VA_ARGS__)
#define FindClose(...) bootstrapCalls.FindClose(__VA_ARGS__)
#define GetSystemDirectoryW(...) bootstrapCalls.GetSystemDirectoryW(__VA_ARGS__)
#define GetFileAttributesW(...) bootstrapCalls.GetFileAttributesW(__VA_ARGS__)
#define GetCommandLineW(...) bootstrapCalls.GetCommandLineW(__VA_ARGS__)
#define GetEnvironmentVariableW(...) bootstrapCalls.GetEnvironmentVariableW(__VA_ARGS__)
#define CreateProcessW(...) bootstrapCalls.CreateProcessW(__VA_ARGS__)
#define WaitForSingleObject(...) bootstrapCalls.WaitForSingleObject(__VA_ARGS__)
#define GetExitCodeProcess(...) bootstrapCalls.GetExitCodeProcess(__VA_ARGS__)
#define CloseHandle(...) bootstrapCalls.CloseHandle(__VA_ARGS__)
#endif

#endif  // SATCHEL_BOOTSTRAP_CALLS_H
