// satchel-java's Windows half (see satchel_java.h): runtime discovery under
// the executable's folder and JAVA_HOME in UTF-16 and in the registry, the
// real command line, messages on standard error or in warning boxes, and the
// thread that runs the application.  Its Windows calls go through the tables
// of front_end_calls.h and platform.h; what it calls directly is the C
// runtime's, and the two calls found by GetProcAddress, each marked where it
// is made.
#include "front_end_calls.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "java_vm.h"
#include "javahost_messages.h"
#include "payload.h"
#include "satchel_java.h"

// ---- runtime discovery ----

// A 32-bit runtime often has only the client VM.
const char *const jvmLibraries[] = {"bin\\server\\jvm.dll", "bin\\client\\jvm.dll",
                                    "jre\\bin\\server\\jvm.dll", "jre\\bin\\client\\jvm.dll"};
const size_t jvmLibraryCount = sizeof jvmLibraries / sizeof jvmLibraries[0];
const char jvmLibraryNames[] = "bin\\server\\jvm.dll or bin\\client\\jvm.dll (or the same under jre)";
const char pathSeparator[] = "\\";

// A heap copy of the UTF-16 text in the code page; null on failure.
static char *FromWide(UINT codePage, const wchar_t *text) {
  int size = WideCharToMultiByte(codePage, 0, text, -1, NULL, 0, NULL, NULL);
  if (size <= 0) return NULL;
  char *result = (char *)malloc((size_t)size);
  if (!result) return NULL;
  if (WideCharToMultiByte(codePage, 0, text, -1, result, size, NULL, NULL) != size) {
    free(result);
    return NULL;
  }
  return result;
}
char *ExecutableFolder(void) {
  wchar_t path[4096];
  DWORD length = GetModuleFileNameW(NULL, path, 4096);
  if (length == 0 || length >= 4096) return NULL;
  wchar_t *slash = wcsrchr(path, L'\\');
  wchar_t *other = wcsrchr(path, L'/');
  if (other > slash) slash = other;
  if (!slash) return NULL;
  slash[1] = 0;
  return FromWide(CP_UTF8, path);
}

int IsFile(const char *path) {
  int size = MultiByteToWideChar(CP_UTF8, 0, path, -1, NULL, 0);
  if (size <= 0) return 0;
  wchar_t *wide = (wchar_t *)malloc((size_t)size * sizeof(wchar_t));
  if (!wide) return 0;
  MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, size);
  DWORD attributes = GetFileAttributesW(wide);
  free(wide);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

char *JavaHome(void) {
  // The C runtime's copy of the environment, as the POSIX half's getenv.
  const wchar_t *value = _wgetenv(L"JAVA_HOME");
  if (!value || !*value) return NULL;
  return FromWide(CP_UTF8, value);
}

// A runtime's own DLLs (the C runtime that jvm.dll imports among them) sit in
// its bin folder, two levels above jvm.dll; the loader does not look there by
// itself.
void PrepareRuntime(const char *library) {
  int size = MultiByteToWideChar(CP_UTF8, 0, library, -1, NULL, 0);
  if (size <= 0) return;
  wchar_t *folder = (wchar_t *)malloc((size_t)size * sizeof(wchar_t));
  if (!folder) return;
  MultiByteToWideChar(CP_UTF8, 0, library, -1, folder, size);
  for (int level = 0; level < 2; level++) {
    wchar_t *slash = wcsrchr(folder, L'\\');
    wchar_t *other = wcsrchr(folder, L'/');
    if (other > slash) slash = other;
    if (!slash) {
      free(folder);
      return;
    }
    *slash = 0;
  }
  // With the search restricted (PrepareProcess), folders added so are among
  // those searched; where the system lacks AddDllDirectory there is no
  // restriction, and SetDllDirectoryW does the same.
  typedef void *(WINAPI * AddDllDirectoryCall)(const wchar_t *folder);
  void (*add)(void) = (void (*)(void))GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "AddDllDirectory");
  // Called through the pointer found: older systems lack it, so it is not imported.
  if (add) ((AddDllDirectoryCall)add)(folder);
  SetDllDirectoryW(folder);
  free(folder);
}

// A heap copy of a UTF-8 path in UTF-16; null when it does not convert.
static wchar_t *ToWide(const char *text) {
  int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, NULL, 0);
  if (size <= 0) return NULL;
  wchar_t *wide = (wchar_t *)malloc((size_t)size * sizeof(wchar_t));
  if (wide) MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, size);
  return wide;
}

FILE *OpenForReading(const char *path) {
  wchar_t *wide = ToWide(path);
  // The C runtime's stream, as the POSIX half's fopen.
  FILE *file = wide ? _wfopen(wide, L"rb") : NULL;
  free(wide);
  return file;
}

// Where installed runtimes keep their registry entries, below
// HKEY_LOCAL_MACHINE: the key that StartJavaVm reads itself, and the keys
// that current development kits and runtimes write, in the registry view of
// this program's own bitness.
static const char kLegacyRuntimeKey[] = JAVA_RUNTIME_KEY_PATH;
static const wchar_t *const kRuntimeKeys[] = {L"SOFTWARE\\JavaSoft\\JDK", L"SOFTWARE\\JavaSoft\\JRE"};
static const char *const kRuntimeKeyNames[] = {"JDK", "JRE"};
#ifdef _WIN64
#define OWN_REGISTRY_VIEW KEY_WOW64_64KEY
#else
#define OWN_REGISTRY_VIEW KEY_WOW64_32KEY
#endif

// Orders two version texts by their numbers: "17.0.10" after "17.0.9".
static int CompareVersions(const wchar_t *a, const wchar_t *b) {
  while (*a || *b) {
    wchar_t *aEnd, *bEnd;
    unsigned long x = wcstoul(a, &aEnd, 10), y = wcstoul(b, &bEnd, 10);
    if (x != y) return x < y ? -1 : 1;
    a = aEnd;
    b = bEnd;
    while (*a && (*a < L'0' || *a > L'9')) a++;
    while (*b && (*b < L'0' || *b > L'9')) b++;
  }
  return 0;
}

// The runtime that a key of current installers names: the version under its
// CurrentVersion, else the highest version present, and the JavaHome there.
static char *TryRuntimeKey(const wchar_t *keyPath, const char *keyName) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ | OWN_REGISTRY_VIEW, &key) != ERROR_SUCCESS)
    return NULL;
  wchar_t version[256] = {0};
  DWORD type = 0, size = sizeof version - sizeof(wchar_t);
  if (RegQueryValueExW(key, L"CurrentVersion", NULL, &type, (BYTE *)version, &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    version[0] = 0;
    wchar_t name[256];
    for (DWORD i = 0;; i++) {
      DWORD length = 256;
      if (RegEnumKeyExW(key, i, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
      if (!version[0] || CompareVersions(name, version) > 0) wcscpy(version, name);
    }
  }
  wchar_t home[4096];
  int haveHome = 0;
  HKEY versionKey;
  if (version[0] && RegOpenKeyExW(key, version, 0, KEY_READ | OWN_REGISTRY_VIEW, &versionKey) == ERROR_SUCCESS) {
    size = sizeof home - sizeof(wchar_t);
    haveHome = RegQueryValueExW(versionKey, L"JavaHome", NULL, &type, (BYTE *)home, &size) == ERROR_SUCCESS &&
               (type == REG_SZ || type == REG_EXPAND_SZ);
    if (haveHome) home[size / sizeof(wchar_t)] = 0;
    RegCloseKey(versionKey);
  }
  RegCloseKey(key);
  if (!haveHome) return NULL;
  char *homeText = FromWide(CP_UTF8, home);
  char *versionText = FromWide(CP_UTF8, version);
  char *label = homeText && versionText ? JoinStrings(keyName, " ", versionText, " (") : NULL;
  char *fullLabel = label ? JoinStrings(label, homeText, ")", NULL) : NULL;
  char *library = fullLabel ? TryRuntimeHome(homeText, fullLabel, ReleaseOfVersion(versionText)) : NULL;
  free(fullLabel);
  free(label);
  free(versionText);
  free(homeText);
  return library;
}

char *FindInstalledRuntime(int *legacyKey) {
  // StartJavaVm's own key comes first, read by StartJavaVm as ever; only its
  // version is looked at here, so that a runtime too old is passed over.
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kLegacyRuntimeKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    char version[81];
    DWORD size = 80;
    int release = 0;
    if (RegQueryValueExA(key, "CurrentVersion", NULL, NULL, (BYTE *)version, &size) == ERROR_SUCCESS) {
      version[size < 80 ? size : 80] = 0;
      release = ReleaseOfVersion(version);
    }
    RegCloseKey(key);
    if (RecentEnough("Java Runtime Environment in the registry", release)) {
      *legacyKey = 1;
      return NULL;
    }
  }
  for (size_t i = 0; i < sizeof kRuntimeKeys / sizeof kRuntimeKeys[0]; i++) {
    char *library = TryRuntimeKey(kRuntimeKeys[i], kRuntimeKeyNames[i]);
    if (library) return library;
  }
  return NULL;
}

#if defined(__x86_64__) || defined(_M_X64)
const char ownMachine[] = "x86-64";
#elif defined(__i386__) || defined(_M_IX86)
const char ownMachine[] = "x86 (32-bit)";
#elif defined(__aarch64__) || defined(_M_ARM64)
const char ownMachine[] = "ARM64";
#else
const char ownMachine[] = "this machine";
#endif

// From the PE header's machine field.
const char *LibraryMachine(const unsigned char *head, size_t size) {
  if (size < 0x40 || head[0] != 'M' || head[1] != 'Z') return NULL;
  size_t pe = ReadU32LE(head + 0x3C);
  if (pe > size - 6 || memcmp(head + pe, "PE\0\0", 4) != 0) return NULL;
  unsigned machine = head[pe + 4] | head[pe + 5] << 8;
  if (machine == 0x14C) return "x86 (32-bit)";
  if (machine == 0x8664) return "x86-64";
  if (machine == 0xAA64) return "ARM64";
  if (machine == 0x1C4) return "ARM (32-bit)";
  return NULL;
}

const char *SystemLoadError(const char *path) {
  static char reason[1024];
  reason[0] = 0;
  wchar_t *wide = ToWide(path);
  DWORD error = ERROR_OUTOFMEMORY;
  if (wide) {
    error = LoadLibraryW(wide) ? ERROR_SUCCESS : GetLastError();
    free(wide);
  }
  wchar_t text[512];
  if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0, text, 512,
                     NULL)) {
    char *utf8 = FromWide(CP_UTF8, text);
    if (utf8) snprintf(reason, sizeof reason, "%s", utf8);
    free(utf8);
  }
  size_t length = strlen(reason);
  while (length && (reason[length - 1] == '\r' || reason[length - 1] == '\n' || reason[length - 1] == ' '))
    reason[--length] = 0;
  if (!length) snprintf(reason, sizeof reason, "system error %lu", (unsigned long)error);
  return reason;
}

// ---- argument decoding ----

// The real UTF-16 command line, split as the runtime splits it; the C
// runtime's argv is in the ANSI code page and loses what that cannot hold.
static wchar_t **wideArguments;

int OpenCommandLine(int, char **) {
  int count = 0;
  wideArguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wideArguments) return -1;
  return count > 0 ? count - 1 : 0;
}

char *CommandLineArgument(int index) { return FromWide(CP_UTF8, wideArguments[index + 1]); }

char *VmOptionArgument(int index, const char *) { return FromWide(CP_ACP, wideArguments[index + 1]); }

// A heap copy of the UTF-8 text in modified UTF-8; a byte that starts no
// well-formed sequence becomes U+FFFD.  Null when out of memory.
char *ApplicationArgument(const char *given) {
  const unsigned char *in = (const unsigned char *)given;
  size_t length = strlen(given);
  // Every input byte gives at most three output bytes (a four-byte sequence
  // gives six).
  char *result = (char *)malloc(length * 3 + 1);
  if (!result) return NULL;
  char *out = result;
  for (size_t i = 0, used; i < length; i += used) {
    uint32_t c = DecodeUtf8(in + i, length - i, &used);
    if (c == UTF8_ILL_FORMED) {
      c = 0xFFFD;
      used = 1;
    }
    out = PutModifiedUtf8(out, c);
  }
  *out = 0;
  return result;
}

void CloseCommandLine(void) {
  LocalFree(wideArguments);
  wideArguments = NULL;
}

// ---- message display ----

// A heap copy in UTF-16 of a message in UTF-8 or in the modified UTF-8 that
// JNI gives (supplementary characters as two three-byte surrogates, which
// become the same two UTF-16 units); a byte that starts no character becomes
// U+FFFD.  Null when out of memory.
static wchar_t *MessageToWide(const char *text) {
  const unsigned char *in = (const unsigned char *)text;
  size_t length = strlen(text);
  // Never more UTF-16 units than bytes.
  wchar_t *wide = (wchar_t *)malloc((length + 1) * sizeof(wchar_t));
  if (!wide) return NULL;
  size_t out = 0;
  for (size_t i = 0, used; i < length; i += used) {
    uint32_t c = DecodeModifiedUtf8(in + i, length - i, &used);
    // U+0000 would end the text.
    if (c == UTF8_ILL_FORMED || c == 0) {
      wide[out++] = 0xFFFD;
      used = 1;
    } else if (c >= 0x10000) {
      wide[out++] = (wchar_t)(0xD800 + ((c - 0x10000) >> 10));
      wide[out++] = (wchar_t)(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      wide[out++] = (wchar_t)c;
    }
  }
  wide[out] = 0;
  return wide;
}

// 1 when this executable has the GUI subsystem (pack-java --gui).
static int IsGuiSubsystem(void) {
  const unsigned char *image = (const unsigned char *)GetModuleHandleW(NULL);
  const IMAGE_NT_HEADERS *headers =
      (const IMAGE_NT_HEADERS *)(image + ((const IMAGE_DOS_HEADER *)image)->e_lfanew);
  return headers->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
}

// 1 when standard error goes where a reader will see it: a file or pipe, or
// a console that this process shares with another (the prompt that started
// it).  A console made for this process alone closes with it, unread.
static int HasStandardError(HANDLE error) {
  if (!error || error == INVALID_HANDLE_VALUE) return 0;
  DWORD type = GetFileType(error);
  if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) return 1;
  DWORD mode, processes[2];
  return type == FILE_TYPE_CHAR && GetConsoleMode(error, &mode) && GetConsoleProcessList(processes, 2) > 1;
}

void ShowMessage(const char *message) {
  wchar_t *wide = MessageToWide(message);
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode, written;
  if (IsGuiSubsystem() || !HasStandardError(error)) {
    if (wide) MessageBoxW(NULL, wide, NULL, MB_OK | MB_ICONWARNING);
    else MessageBoxA(NULL, message, NULL, MB_OK | MB_ICONWARNING);
  } else if (wide && GetConsoleMode(error, &mode)) {
    WriteConsoleW(error, wide, (DWORD)wcslen(wide), &written, NULL);
    WriteConsoleW(error, L"\r\n", 2, &written, NULL);
  } else {
    char *utf8 = wide ? FromWide(CP_UTF8, wide) : NULL;
    const char *bytes = utf8 ? utf8 : message;
    WriteFile(error, bytes, (DWORD)strlen(bytes), &written, NULL);
    WriteFile(error, "\r\n", 2, &written, NULL);
    free(utf8);
  }
  free(wide);
}

// ---- thread start ----

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif
#ifndef LOAD_LIBRARY_SEARCH_USER_DIRS
#define LOAD_LIBRARY_SEARCH_USER_DIRS 0x00000400
#endif

// An application often runs from a downloads or program folder, where a
// planted DLL would otherwise be found before the system's own.  From here
// on, DLLs loaded at run time come from the system folder, and from the
// runtime's bin folder once PrepareRuntime has added it; the JVM library
// itself is loaded by its full path.  The call is looked up at run time:
// where the system does not have it, the front end starts all the same.
void PrepareProcess(void) {
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesCall)(DWORD flags);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  void (*found)(void) = kernel ? (void (*)(void))GetProcAddress(kernel, "SetDefaultDllDirectories") : NULL;
  // Called through the pointer found: older systems lack it, so it is not imported.
  if (found) ((SetDefaultDllDirectoriesCall)found)(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS);
}

static int (*threadRun)(void);

static DWORD WINAPI ThreadMain(LPVOID) { return (DWORD)threadRun(); }

int RunOnOwnThread(size_t stackSize, int (*run)(void)) {
  threadRun = run;
  HANDLE thread = CreateThread(NULL, stackSize, ThreadMain, NULL, STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
  if (!thread) return -1;
  WaitForSingleObject(thread, INFINITE);
  DWORD code = 1;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  return (int)code;
}
