// satchel-java's Windows half (see satchel_java.h): runtime discovery under
// the executable's folder and JAVA_HOME in UTF-16, the real command line,
// warning boxes, and the thread that runs the application.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

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
  SetDllDirectoryW(folder);
  free(folder);
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

void ShowMessage(const char *message) { MessageBoxA(NULL, message, NULL, MB_OK | MB_ICONWARNING); }

// ---- thread start ----

void PrepareProcess(void) {}

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
