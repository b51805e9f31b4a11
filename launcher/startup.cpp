// Start-up helpers shared by the launcher and the ready msi bootstrap.
#include "startup.h"

#include <string.h>

// The calls of this file, by their Windows names (see startup.h).
#define GetModuleHandleW(...) startupCalls.GetModuleHandleW(__VA_ARGS__)
#define GetProcAddress(...) startupCalls.GetProcAddress(__VA_ARGS__)
#define GetProcessWindowStation(...) startupCalls.GetProcessWindowStation(__VA_ARGS__)
#define GetUserObjectInformationW(...) startupCalls.GetUserObjectInformationW(__VA_ARGS__)
#define GetStdHandle(...) startupCalls.GetStdHandle(__VA_ARGS__)
#define WriteFile(...) startupCalls.WriteFile(__VA_ARGS__)

// Longer arguments than this are no switch.
#define STARTUP_SWITCH_CAPACITY 32

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// An installer usually runs from a downloads folder, where a planted DLL
// would otherwise be found before the system's own.  The call is looked up at
// run time: where the system does not have it, the program starts all the
// same.
void RestrictDllSearchToSystemFolder(void) {
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesCall)(DWORD flags);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel == NULL) {
    return;
  }
  // Through void (*)(void), which converts to any function pointer type.
  void (*found)(void) = reinterpret_cast<void (*)(void)>(
      GetProcAddress(kernel, "SetDefaultDllDirectories"));
  // Called through the pointer found: older systems lack it, so it is not
  // imported.
  if (found != NULL) {
    reinterpret_cast<SetDefaultDllDirectoriesCall>(found)(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
}

// The program name has no escapes: a quote inside it only opens or closes.
// Blanks before it are passed over: a caller that puts one there would
// otherwise have the name itself taken for the first argument.
const WCHAR *SkipProgramName(const WCHAR *commandLine) {
  const WCHAR *at = commandLine;
  while (*at == L' ' || *at == L'\t') {
    at++;
  }
  if (*at == L'"') {
    at++;
    while (*at != 0 && *at != L'"') {
      at++;
    }
    if (*at == L'"') {
      at++;
    }
  } else {
    while (*at != 0 && *at != L' ' && *at != L'\t') {
      at++;
    }
  }
  while (*at == L' ' || *at == L'\t') {
    at++;
  }
  return at;
}

int AppendText(WCHAR *buffer, DWORD capacity, DWORD *length, const WCHAR *text) {
  DWORD at = *length;
  for (; *text != 0; text++) {
    if (at + 1 >= capacity) {
      buffer[at] = 0;
      return 0;
    }
    buffer[at++] = *text;
  }
  buffer[at] = 0;
  *length = at;
  return 1;
}

// Copies the next argument at `*at` into `word` (lower-cased ASCII, quotes
// dropped; one too long to be a switch comes back empty) and moves `*at`
// behind it and the blanks that follow.  0 when there is none left.
static int NextWord(const WCHAR **at, char *word) {
  const WCHAR *next = *at;
  DWORD length = 0;
  int quoted = 0;
  if (*next == 0) {
    return 0;
  }
  for (; *next != 0 && (quoted || (*next != L' ' && *next != L'\t')); next++) {
    if (*next == L'"') {
      quoted = !quoted;
    } else if (length < STARTUP_SWITCH_CAPACITY) {
      WCHAR c = *next;
      word[length++] = (char)(c < 0x80 ? (c >= L'A' && c <= L'Z' ? c + 32 : c) : 0x7F);
    } else {
      length = STARTUP_SWITCH_CAPACITY + 1;
    }
  }
  word[length <= STARTUP_SWITCH_CAPACITY ? length : 0] = 0;
  while (*next == L' ' || *next == L'\t') {
    next++;
  }
  *at = next;
  return 1;
}

// msiexec's quiet forms, `word` lower-cased.
static int IsMsiexecQuietSwitch(const char *word) {
  if (word[0] != '/' && word[0] != '-') {
    return 0;
  }
  word++;
  if (strcmp(word, "quiet") == 0 || strcmp(word, "passive") == 0) {
    return 1;
  }
  if (*word++ != 'q') {
    return 0;
  }
  if (*word == 'n' || *word == 'b') {
    word++;
  }
  return word[strspn(word, "+-!")] == 0;
}

// One of the blank-separated `ownSwitches`, ignoring ASCII case.
static int IsOwnSwitch(const char *word, const char *ownSwitches) {
  size_t length = strlen(word);
  for (const char *own = ownSwitches; own != NULL && *own != 0;) {
    size_t ownLength = strcspn(own, " ");
    if (ownLength == length && _strnicmp(own, word, length) == 0) {
      return 1;
    }
    own += ownLength;
    own += strspn(own, " ");
  }
  return 0;
}

int HasQuietSwitch(const WCHAR *arguments, const char *ownSwitches) {
  char word[STARTUP_SWITCH_CAPACITY + 1];
  while (NextWord(&arguments, word)) {
    if (word[0] != 0 && (IsMsiexecQuietSwitch(word) || IsOwnSwitch(word, ownSwitches))) {
      return 1;
    }
  }
  return 0;
}

// A window station whose visibility cannot be read counts as visible: the
// box shows, as it always has.
int WindowStationVisible(void) {
  USEROBJECTFLAGS flags;
  DWORD size;
  HWINSTA station = GetProcessWindowStation();
  return station == NULL ||
         !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &size) ||
         (flags.dwFlags & WSF_VISIBLE) != 0;
}

int ReportWithoutBox(const char *message, int quiet) {
  if (!quiet && WindowStationVisible()) {
    return 0;
  }
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error != NULL && error != INVALID_HANDLE_VALUE) {
    DWORD written;
    WriteFile(error, message, (DWORD)strlen(message), &written, NULL);
    WriteFile(error, "\r\n", 2, &written, NULL);
  }
  return 1;
}
