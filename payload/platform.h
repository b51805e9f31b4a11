// The few Windows calls that the payload library and Java hosting make.
//
// On Windows this header is <windows.h> itself and the library calls the
// system.  Everywhere else platform_posix.cpp provides the same calls, with
// the same names, argument orders, sizes and results, so that the library's
// code is one and the same on both: the running executable is /proc/self/exe,
// files are file descriptors, text conversion is our own UTF-8 to UTF-16
// decoder, the library loader is dlopen/dlsym, and the registry is a table
// that tests fill (empty otherwise).
//
// Only what the library uses is here; a call that it does not make is not
// provided.  Paths handed to these calls are UTF-16 (WCHAR), as on Windows.
#ifndef SATCHEL_PLATFORM_H
#define SATCHEL_PLATFORM_H

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#else  // POSIX stand-in

#include <stddef.h>
#include <stdint.h>

typedef int BOOL;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef uint32_t REGSAM;
typedef unsigned char BYTE;
typedef char16_t WCHAR;
typedef void *HANDLE;
typedef void *HMODULE;
typedef void (*FARPROC)(void);
typedef struct PlatformRegistryKey *HKEY;

#define TRUE 1
#define FALSE 0

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define CP_UTF8 65001u

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_READ_FAULT 30L
#define ERROR_WRITE_FAULT 29L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_NEGATIVE_SEEK 131L
#define ERROR_MORE_DATA 234L

#define KEY_QUERY_VALUE 0x0001u
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)

// Files: one open file descriptor per handle.
DWORD GetModuleFileNameW(HMODULE module, WCHAR *buffer, DWORD size);
HANDLE CreateFileW(const WCHAR *path, DWORD access, DWORD shareMode, void *security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL ReadFile(HANDLE file, void *buffer, DWORD toRead, DWORD *read, void *overlapped);
BOOL WriteFile(HANDLE file, const void *buffer, DWORD toWrite, DWORD *written, void *overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG *distanceHigh, DWORD method);
BOOL CloseHandle(HANDLE handle);
DWORD GetLastError(void);

// UTF-8 to UTF-16 only (CP_UTF8).  Flags 0: an ill-formed sequence becomes
// U+FFFD.  Length -1 converts the terminating NUL too.  Zero on failure,
// also when the result does not fit.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char *source, int sourceLength,
                        WCHAR *target, int targetLength);

// The run-time loader.
HMODULE LoadLibraryW(const WCHAR *path);
FARPROC GetProcAddress(HMODULE module, const char *name);

// The registry: HKEY_LOCAL_MACHINE only, read-only, backed by a table.
LONG RegOpenKeyExA(HKEY key, const char *subKey, DWORD options, REGSAM access, HKEY *result);
LONG RegQueryValueExA(HKEY key, const char *name, DWORD *reserved, DWORD *type, BYTE *data,
                      DWORD *size);
LONG RegQueryValueExW(HKEY key, const WCHAR *name, DWORD *reserved, DWORD *type, BYTE *data,
                      DWORD *size);
LONG RegCloseKey(HKEY key);

// ---- Test seams of the stand-in (not part of the Windows interface) ----

// Makes GetModuleFileNameW report this UTF-8 path instead of /proc/self/exe;
// null restores the real one.
void PlatformSetModulePath(const char *path);

// Registry table.  A key exists once it has been added, or once a value or a
// subkey has been set below it.  Paths are relative to HKEY_LOCAL_MACHINE and
// compared ignoring ASCII case, as the registry does.
void PlatformClearRegistry(void);
void PlatformAddRegistryKey(const char *keyPath);
void PlatformSetRegistryValue(const char *keyPath, const char *valueName, const void *data,
                              DWORD size);
// How many registry keys are open now (to check that failures close them).
int PlatformOpenRegistryKeys(void);

// Fault injection: the named call succeeds `skip` more times and then fails
// once (and every time after while `sticky` is set).  A negative skip disarms.
enum PlatformCall {
  PLATFORM_CREATE_FILE,
  PLATFORM_READ_FILE,
  PLATFORM_WRITE_FILE,
  PLATFORM_SET_FILE_POINTER,
  PLATFORM_CALL_COUNT
};
void PlatformFailCall(PlatformCall call, int skip, int sticky);
// How often the named call ran since the last reset.
int PlatformCallCount(PlatformCall call);
void PlatformResetFaults(void);

#endif  // _WIN32

#endif  // SATCHEL_PLATFORM_H
