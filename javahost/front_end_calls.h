// The Windows calls of satchel-java's Windows half, through one table, in the
// manner of the payload library's (platform.h): code calls them by their
// Windows names, each a macro for the entry of that name in `frontEndCalls`,
// which starts as the system's own calls (front_end_calls_win32.cpp).  Files,
// text conversion and the runtime's loader come from platform.h's tables.
#ifndef SATCHEL_FRONT_END_CALLS_H
#define SATCHEL_FRONT_END_CALLS_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

struct FrontEndCalls {
  // The command line as UTF-16, and text back to UTF-8 or the ANSI code page.
  WCHAR *(WINAPI *GetCommandLineW)(void);
  WCHAR **(WINAPI *CommandLineToArgvW)(const WCHAR *commandLine, int *count);
  HLOCAL(WINAPI *LocalFree)(HLOCAL memory);
  int(WINAPI *WideCharToMultiByte)(UINT codePage, DWORD flags, const WCHAR *source,
                                   int sourceLength, char *target, int targetLength,
                                   const char *defaultCharacter, BOOL *usedDefault);
  // A loaded module: kernel32.dll, for calls that older systems lack, and
  // this program's own image.
  HMODULE(WINAPI *GetModuleHandleW)(const WCHAR *name);
  // Runtime discovery: files, the keys of current installers (StartJavaVm's
  // own key is read through platform.h's runtime table) and why a library
  // did not load.
  DWORD(WINAPI *GetFileAttributesW)(const WCHAR *path);
  BOOL(WINAPI *SetDllDirectoryW)(const WCHAR *path);
  LONG(WINAPI *RegOpenKeyExW)(HKEY key, const WCHAR *subKey, DWORD options, REGSAM access,
                              HKEY *result);
  LONG(WINAPI *RegEnumKeyExW)(HKEY key, DWORD index, WCHAR *name, DWORD *nameLength,
                              DWORD *reserved, WCHAR *className, DWORD *classLength,
                              FILETIME *written);
  DWORD(WINAPI *FormatMessageW)(DWORD flags, const void *source, DWORD messageId,
                                DWORD languageId, WCHAR *buffer, DWORD size, va_list *arguments);
  // Messages: a warning box, or standard error as a console or as bytes.
  int(WINAPI *MessageBoxA)(HWND owner, const char *text, const char *caption, UINT type);
  int(WINAPI *MessageBoxW)(HWND owner, const WCHAR *text, const WCHAR *caption, UINT type);
  HANDLE(WINAPI *GetStdHandle)(DWORD which);
  DWORD(WINAPI *GetFileType)(HANDLE file);
  BOOL(WINAPI *GetConsoleMode)(HANDLE console, DWORD *mode);
  DWORD(WINAPI *GetConsoleProcessList)(DWORD *processes, DWORD count);
  BOOL(WINAPI *WriteConsoleW)(HANDLE console, const void *text, DWORD length, DWORD *written,
                              void *reserved);
  // The thread that runs the application.
  HANDLE(WINAPI *CreateThread)(SECURITY_ATTRIBUTES *security, SIZE_T stackSize,
                               LPTHREAD_START_ROUTINE start, void *parameter, DWORD flags,
                               DWORD *threadId);
  DWORD(WINAPI *WaitForSingleObject)(HANDLE handle, DWORD milliseconds);
  BOOL(WINAPI *GetExitCodeThread)(HANDLE thread, DWORD *code);
};

extern FrontEndCalls frontEndCalls;

#include "platform.h"

#ifndef PLATFORM_DEFINES_TABLE
#define GetCommandLineW(...) frontEndCalls.GetCommandLineW(__VA_ARGS__)
#define CommandLineToArgvW(...) frontEndCalls.CommandLineToArgvW(__VA_ARGS__)
#define LocalFree(...) frontEndCalls.LocalFree(__VA_ARGS__)
#define WideCharToMultiByte(...) frontEndCalls.WideCharToMultiByte(__VA_ARGS__)
#define GetModuleHandleW(...) frontEndCalls.GetModuleHandleW(__VA_ARGS__)
#define GetFileAttributesW(...) frontEndCalls.GetFileAttributesW(__VA_ARGS__)
#define SetDllDirectoryW(...) frontEndCalls.SetDllDirectoryW(__VA_ARGS__)
#define RegOpenKeyExW(...) frontEndCalls.RegOpenKeyExW(__VA_ARGS__)
#define RegEnumKeyExW(...) frontEndCalls.RegEnumKeyExW(__VA_ARGS__)
#define FormatMessageW(...) frontEndCalls.FormatMessageW(__VA_ARGS__)
#define MessageBoxA(...) frontEndCalls.MessageBoxA(__VA_ARGS__)
#define MessageBoxW(...) frontEndCalls.MessageBoxW(__VA_ARGS__)
#define GetStdHandle(...) frontEndCalls.GetStdHandle(__VA_ARGS__)
#define GetFileType(...) frontEndCalls.GetFileType(__VA_ARGS__)
#define GetConsoleMode(...) frontEndCalls.GetConsoleMode(__VA_ARGS__)
#define GetConsoleProcessList(...) frontEndCalls.GetConsoleProcessList(__VA_ARGS__)
#define WriteConsoleW(...) frontEndCalls.WriteConsoleW(__VA_ARGS__)
#define CreateThread(...) frontEndCalls.CreateThread(__VA_ARGS__)
#define WaitForSingleObject(...) frontEndCalls.WaitForSingleObject(__VA_ARGS__)
#define GetExitCodeThread(...) frontEndCalls.GetExitCodeThread(__VA_ARGS__)
#endif

#endif  // SATCHEL_FRONT_END_CALLS_H
