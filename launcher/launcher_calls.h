// The launcher's own system calls, through one table, in the manner of the
// payload library's (platform.h): code calls them by their Windows names, each
// a macro for the entry of that name in `launcherCalls`, which starts as the
// system's own calls (launcher_calls.cpp).  A test build of the launcher links
// one more file that replaces entries before WinMain runs, to reach failures
// that a real system does not give on demand; the release stub links no such
// file, and nothing outside the process can change the table.
//
// Where each of the launcher's calls lives:
//
//   platformCalls   payload/platform.h    files and text conversion to UTF-16
//   startupCalls    startup.h             GetModuleHandleW and GetProcAddress of the
//                                         start-up code shared with the ready bootstrap
//   launcherCalls   here                  everything else
//
// The bootstrap's own calls are in bootstrap_calls.h.  The one call made
// otherwise, the C runtime's exit in FatalError, is marked there.  A file that
// includes <objbase.h> or <sddl.h> includes it before this header (the C++
// side of the first also switches the C runtime's printf family to mingw's
// own).
#ifndef SATCHEL_LAUNCHER_CALLS_H
#define SATCHEL_LAUNCHER_CALLS_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <tlhelp32.h>

struct LauncherCalls {
  // The message box of FatalError.
  int(WINAPI *MessageBoxA)(HWND owner, const char *text, const char *caption, UINT type);
  // The launcher's own arguments, which a bundle may hand on, and where it
  // was started, which the program learns.
  WCHAR *(WINAPI *GetCommandLineW)(void);
  DWORD(WINAPI *GetCurrentDirectoryW)(DWORD capacity, WCHAR *buffer);
  BOOL(WINAPI *SetEnvironmentVariableW)(const WCHAR *name, const WCHAR *value);
  // The temporary GUID folder.
  DWORD(WINAPI *GetTempPathW)(DWORD capacity, WCHAR *buffer);
  HRESULT(WINAPI *CoInitialize)(void *reserved);
  HRESULT(WINAPI *CoCreateGuid)(GUID *guid);
  int(WINAPI *StringFromGUID2)(REFGUID guid, WCHAR *text, int capacity);
  BOOL(WINAPI *CreateDirectoryW)(const WCHAR *path, SECURITY_ATTRIBUTES *security);
  // The folder's security when the launcher runs elevated.
  HANDLE(WINAPI *GetCurrentProcess)(void);
  BOOL(WINAPI *OpenProcessToken)(HANDLE process, DWORD access, HANDLE *token);
  BOOL(WINAPI *GetTokenInformation)(HANDLE token, TOKEN_INFORMATION_CLASS kind, void *information,
                                    DWORD size, DWORD *needed);
  BOOL(WINAPI *ConvertStringSecurityDescriptorToSecurityDescriptorA)(const char *text,
                                                                     DWORD revision,
                                                                     void **descriptor,
                                                                     ULONG *size);
  // The job and its program.
  HANDLE(WINAPI *CreateJobObjectA)(SECURITY_ATTRIBUTES *security, const char *name);
  BOOL(WINAPI *CreateProcessW)(const WCHAR *application, WCHAR *commandLine,
                               SECURITY_ATTRIBUTES *processSecurity,
                               SECURITY_ATTRIBUTES *threadSecurity, BOOL inheritHandles,
                               DWORD flags, void *environment, const WCHAR *folder,
                               STARTUPINFOW *startup, PROCESS_INFORMATION *process);
  BOOL(WINAPI *AssignProcessToJobObject)(HANDLE job, HANDLE process);
  DWORD(WINAPI *ResumeThread)(HANDLE thread);
  BOOL(WINAPI *TerminateProcess)(HANDLE process, UINT exitCode);
  BOOL(WINAPI *GetExitCodeProcess)(HANDLE process, DWORD *code);
  // Waiting for every process of the job.
  HANDLE(WINAPI *CreateToolhelp32Snapshot)(DWORD flags, DWORD processId);
  BOOL(WINAPI *Process32First)(HANDLE snapshot, PROCESSENTRY32 *entry);
  BOOL(WINAPI *Process32Next)(HANDLE snapshot, PROCESSENTRY32 *entry);
  HANDLE(WINAPI *OpenProcess)(DWORD access, BOOL inherit, DWORD processId);
  BOOL(WINAPI *IsProcessInJob)(HANDLE process, HANDLE job, BOOL *member);
  DWORD(WINAPI *WaitForSingleObject)(HANDLE handle, DWORD milliseconds);
  // The progress window.
  DWORD(WINAPI *GetTickCount)(void);
  int(WINAPI *GetSystemMetrics)(int index);
  HWND(WINAPI *CreateWindowExW)(DWORD extendedStyle, const WCHAR *className,
                                const WCHAR *windowName, DWORD style, int x, int y, int width,
                                int height, HWND parent, HMENU menu, HINSTANCE instance,
                                void *parameter);
  BOOL(WINAPI *MoveWindow)(HWND window, int x, int y, int width, int height, BOOL repaint);
  int(WINAPI *MulDiv)(int number, int numerator, int denominator);
  BOOL(WINAPI *PeekMessageW)(MSG *message, HWND window, UINT first, UINT last, UINT remove);
  LRESULT(WINAPI *DispatchMessageW)(const MSG *message);
  BOOL(WINAPI *DestroyWindow)(HWND window);
  // Cleaning up: the folder and everything in it.
  HANDLE(WINAPI *FindFirstFileW)(const WCHAR *pattern, WIN32_FIND_DATAW *found);
  BOOL(WINAPI *FindNextFileW)(HANDLE search, WIN32_FIND_DATAW *found);
  BOOL(WINAPI *FindClose)(HANDLE search);
  BOOL(WINAPI *SetFileAttributesW)(const WCHAR *path, DWORD attributes);
  BOOL(WINAPI *DeleteFileW)(const WCHAR *path);
  BOOL(WINAPI *RemoveDirectoryW)(const WCHAR *path);
  BOOL(WINAPI *MoveFileExW)(const WCHAR *from, const WCHAR *to, DWORD flags);
  void(WINAPI *Sleep)(DWORD milliseconds);
};

extern LauncherCalls launcherCalls;

#include "platform.h"

#ifndef PLATFORM_DEFINES_TABLE
#define MessageBoxA(...) launcherCalls.MessageBoxA(__VA_ARGS__)
#define GetCommandLineW(...) launcherCalls.GetCommandLineW(__VA_ARGS__)
#define GetCurrentDirectoryW(...) launcherCalls.GetCurrentDirectoryW(__VA_ARGS__)
#define SetEnvironmentVariableW(...) launcherCalls.SetEnvironmentVariableW(__VA_ARGS__)
#define GetTempPathW(...) launcherCalls.GetTempPathW(__VA_ARGS__)
#define CoInitialize(...) launcherCalls.CoInitialize(__VA_ARGS__)
#define CoCreateGuid(...) launcherCalls.CoCreateGuid(__VA_ARGS__)
#define StringFromGUID2(...) launcherCalls.StringFromGUID2(__VA_ARGS__)
#define CreateDirectoryW(...) launcherCalls.CreateDirectoryW(__VA_ARGS__)
#define GetCurrentProcess(...) launcherCalls.GetCurrentProcess(__VA_ARGS__)
#define OpenProcessToken(...) launcherCalls.OpenProcessToken(__VA_ARGS__)
#define GetTokenInformation(...) launcherCalls.GetTokenInformation(__VA_ARGS__)
#define ConvertStringSecurityDescriptorToSecurityDescriptorA(...) \
  launcherCalls.ConvertStringSecurityDescriptorToSecurityDescriptorA(__VA_ARGS__)
#define CreateJobObjectA(...) launcherCalls.CreateJobObjectA(__VA_ARGS__)
#define CreateProcessW(...) launcherCalls.CreateProcessW(__VA_ARGS__)
#define AssignProcessToJobObject(...) launcherCalls.AssignProcessToJobObject(__VA_ARGS__)
#define ResumeThread(...) launcherCalls.ResumeThread(__VA_ARGS__)
#define TerminateProcess(...) launcherCalls.TerminateProcess(__VA_ARGS__)
#define GetExitCodeProcess(...) launcherCalls.GetExitCodeProcess(__VA_ARGS__)
#define CreateToolhelp32Snapshot(...) launcherCalls.CreateToolhelp32Snapshot(__VA_ARGS__)
#define Process32First(...) launcherCalls.Process32First(__VA_ARGS__)
#define Process32Next(...) launcherCalls.Process32Next(__VA_ARGS__)
#define OpenProcess(...) launcherCalls.OpenProcess(__VA_ARGS__)
#define IsProcessInJob(...) launcherCalls.IsProcessInJob(__VA_ARGS__)
#define WaitForSingleObject(...) launcherCalls.WaitForSingleObject(__VA_ARGS__)
#define GetTickCount(...) launcherCalls.GetTickCount(__VA_ARGS__)
#define GetSystemMetrics(...) launcherCalls.GetSystemMetrics(__VA_ARGS__)
#define CreateWindowExW(...) launcherCalls.CreateWindowExW(__VA_ARGS__)
#define MoveWindow(...) launcherCalls.MoveWindow(__VA_ARGS__)
#define MulDiv(...) launcherCalls.MulDiv(__VA_ARGS__)
#define PeekMessageW(...) launcherCalls.PeekMessageW(__VA_ARGS__)
#define DispatchMessageW(...) launcherCalls.DispatchMessageW(__VA_ARGS__)
#define DestroyWindow(...) launcherCalls.DestroyWindow(__VA_ARGS__)
#define FindFirstFileW(...) launcherCalls.FindFirstFileW(__VA_ARGS__)
#define FindNextFileW(...) launcherCalls.FindNextFileW(__VA_ARGS__)
#define FindClose(...) launcherCalls.FindClose(__VA_ARGS__)
#define SetFileAttributesW(...) launcherCalls.SetFileAttributesW(__VA_ARGS__)
#define DeleteFileW(...) launcherCalls.DeleteFileW(__VA_ARGS__)
#define RemoveDirectoryW(...) launcherCalls.RemoveDirectoryW(__VA_ARGS__)
#define MoveFileExW(...) launcherCalls.MoveFileExW(__VA_ARGS__)
#define Sleep(...) launcherCalls.Sleep(__VA_ARGS__)
#endif

#endif  // SATCHEL_LAUNCHER_CALLS_H
