// The system calls of the payload library, through tables that the installer
// launcher (its extracted files) and Java hosting (the runtime's loader and
// the registry) use as well.
//
// Code calls them by their Windows names, so that it reads like the steps it
// implements: `CreateFileW(...)` is a macro for the entry of that name in
// `platformCalls` (or, for the runtime's loader and the registry,
// `runtimeCalls`), a plain struct of function pointers.  On Windows the
// entries start as the system's own calls (platform_win32.cpp); everywhere
// else as the stand-ins of platform_posix.cpp, which keep the same names,
// argument orders, sizes and results: the running executable is
// /proc/self/exe, files are file descriptors, text conversion is the library's
// own UTF-8 decoder, the library loader is dlopen/dlsym, and the registry is a
// table that tests fill (empty otherwise).
//
// Tests replace entries to inject faults, on both systems: save the entry,
// store a function of the same type, restore the entry.  Nothing outside the
// process can change the table; no switch of any kind reads the environment
// or a file.  The launcher's own calls (launcher_calls.h), those of the ready
// bootstrap (bootstrap_calls.h), of the start-up code the two share
// (startup.h) and of the front end's Windows half (front_end_calls.h) follow
// the same pattern in their own tables.
//
// Only what the library, the launcher and Java hosting take from these tables
// is here; a call that none of the three makes is not provided.  Paths handed to these calls are UTF-16 (WCHAR), as on
// Windows.
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
#define WINAPI
// Never looked at by the stand-ins; callers pass null.
typedef struct PlatformSecurityAttributes SECURITY_ATTRIBUTES;
typedef struct PlatformOverlapped OVERLAPPED;

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

// Fault injection built into the stand-ins (replacing a table entry works on
// both systems): the named call succeeds `skip` more times and then fails
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

// ---- the table ----

struct PlatformCalls {
  // Files: the payload's own file (read) and the launcher's extracted files
  // (written).  On POSIX systems one open file descriptor per handle.
  DWORD(WINAPI *GetModuleFileNameW)(HMODULE module, WCHAR *buffer, DWORD size);
  HANDLE(WINAPI *CreateFileW)(const WCHAR *path, DWORD access, DWORD shareMode,
                              SECURITY_ATTRIBUTES *security, DWORD disposition, DWORD flags,
                              HANDLE templateFile);
  BOOL(WINAPI *ReadFile)(HANDLE file, void *buffer, DWORD toRead, DWORD *read, OVERLAPPED *overlapped);
  BOOL(WINAPI *WriteFile)(HANDLE file, const void *buffer, DWORD toWrite, DWORD *written,
                          OVERLAPPED *overlapped);
  DWORD(WINAPI *SetFilePointer)(HANDLE file, LONG distance, LONG *distanceHigh, DWORD method);
  BOOL(WINAPI *CloseHandle)(HANDLE handle);
  DWORD(WINAPI *GetLastError)(void);

  // UTF-8 to UTF-16 (the stand-in: CP_UTF8 only).  Flags 0: an ill-formed
  // sequence becomes U+FFFD.  Length -1 converts the terminating NUL too.
  // Zero on failure, also when the result does not fit.
  int(WINAPI *MultiByteToWideChar)(UINT codePage, DWORD flags, const char *source,
                                   int sourceLength, WCHAR *target, int targetLength);

  // An entry point of a loaded library.
  FARPROC(WINAPI *GetProcAddress)(HMODULE module, const char *name);
};

// Finding and loading a Java runtime (Java hosting only): the loader, and the
// registry, HKEY_LOCAL_MACHINE only and read-only (the stand-in's is a table).
// A table of its own, so that a program that loads no runtime does not import
// these calls.
struct RuntimeCalls {
  HMODULE(WINAPI *LoadLibraryW)(const WCHAR *path);
  LONG(WINAPI *RegOpenKeyExA)(HKEY key, const char *subKey, DWORD options, REGSAM access,
                              HKEY *result);
  LONG(WINAPI *RegQueryValueExA)(HKEY key, const char *name, DWORD *reserved, DWORD *type,
                                 BYTE *data, DWORD *size);
  LONG(WINAPI *RegQueryValueExW)(HKEY key, const WCHAR *name, DWORD *reserved, DWORD *type,
                                 BYTE *data, DWORD *size);
  LONG(WINAPI *RegCloseKey)(HKEY key);
};

extern PlatformCalls platformCalls;
extern RuntimeCalls runtimeCalls;

#if defined(_WIN32) && defined(PLATFORM_DEFINES_TABLE)
// How the Windows tables are filled (platform_win32.cpp, runtime_calls_win32.cpp,
// and the tables of the launcher, the bootstrap, their shared start-up code
// and the Java front end): each file lists its calls once, in the order of its
// struct, as X(name, argument bytes); every entry is copied from the call's
// slot in the import address table before any other start-up code runs.
// Copying keeps the table as small as the calls themselves: a table of
// constant addresses would need a jump stub per call in the stub's code.
#include <stddef.h>
#include <string.h>

#include <type_traits>

#ifdef _WIN64
#define PLATFORM_IMPORT_SLOT(name, bytes) "__imp_" #name
#else
#define PLATFORM_IMPORT_SLOT(name, bytes) "__imp__" #name "@" #bytes
#endif

// Declares the slot of each call, and checks that the table's entry has the
// system's own type.
#define PLATFORM_DECLARE_SLOT(Table, name, bytes)                                  \
  extern "C" void *const slotOf##name __asm__(PLATFORM_IMPORT_SLOT(name, bytes)); \
  static_assert(std::is_same<decltype(&::name), decltype(Table::name)>::value,    \
                #name " in " #Table " does not have the system's type");
#define PLATFORM_SLOT_ADDRESS(Table, name, bytes) &slotOf##name,
#define PLATFORM_ENTRY_OFFSET(Table, name, bytes) offsetof(Table, name),

// True when the listed entries are the struct's own, in its order.
template <size_t count>
constexpr bool PlatformTableInOrder(const size_t (&offsets)[count], size_t tableSize) {
  for (size_t i = 0; i < count; i++)
    if (offsets[i] != i * sizeof(void *)) return false;
  return count * sizeof(void *) == tableSize;
}

// Copies every slot's current value into the table.  The table is a struct
// of function pointers, each the size of a data pointer on Windows; copied
// byte for byte, so that no pointer type stands in for another.  One copy in
// a program however many tables it has, and no library to link for it.
inline __attribute__((noinline)) void PlatformFillTable(void *table, void *const *const *slots,
                                                         size_t count) {
  for (size_t i = 0; i < count; i++) memcpy((char *)table + i * sizeof(void *), slots[i], sizeof(void *));
}

// Defines `table` of type Table from the list CALLS(X), filled at start-up.
// The list of slots is writable data only because the stub's data section
// has room to spare where its read-only one has none.
#define PLATFORM_DEFINE_TABLE(Table, table, CALLS)                                           \
  CALLS(PLATFORM_DECLARE_SLOT)                                                               \
  Table table;                                                                               \
  namespace {                                                                                \
  void *const *slotsOf##table[] = {CALLS(PLATFORM_SLOT_ADDRESS)};                            \
  constexpr size_t offsetsOf##table[] = {CALLS(PLATFORM_ENTRY_OFFSET)};                      \
  static_assert(PlatformTableInOrder(offsetsOf##table, sizeof(Table)),                       \
                #CALLS " must list every entry of " #Table ", in order");                    \
  __attribute__((constructor(101))) void Fill##table(void) {                                 \
    PlatformFillTable(&table, slotsOf##table, sizeof slotsOf##table / sizeof *slotsOf##table); \
  }                                                                                          \
  }
#endif

#ifndef PLATFORM_DEFINES_TABLE  // only the files that fill the tables see the real names
#define GetModuleFileNameW(...) platformCalls.GetModuleFileNameW(__VA_ARGS__)
#define CreateFileW(...) platformCalls.CreateFileW(__VA_ARGS__)
#define ReadFile(...) platformCalls.ReadFile(__VA_ARGS__)
#define WriteFile(...) platformCalls.WriteFile(__VA_ARGS__)
#define SetFilePointer(...) platformCalls.SetFilePointer(__VA_ARGS__)
#define CloseHandle(...) platformCalls.CloseHandle(__VA_ARGS__)
#define GetLastError(...) platformCalls.GetLastError(__VA_ARGS__)
#define MultiByteToWideChar(...) platformCalls.MultiByteToWideChar(__VA_ARGS__)
#define LoadLibraryW(...) runtimeCalls.LoadLibraryW(__VA_ARGS__)
#define GetProcAddress(...) platformCalls.GetProcAddress(__VA_ARGS__)
#define RegOpenKeyExA(...) runtimeCalls.RegOpenKeyExA(__VA_ARGS__)
#define RegQueryValueExA(...) runtimeCalls.RegQueryValueExA(__VA_ARGS__)
#define RegQueryValueExW(...) runtimeCalls.RegQueryValueExW(__VA_ARGS__)
#define RegCloseKey(...) runtimeCalls.RegCloseKey(__VA_ARGS__)
#endif

#endif  // SATCHEL_PLATFORM_H
