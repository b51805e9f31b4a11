// Start-up helpers shared by the launcher and the ready msi bootstrap.
#include "startup.h"

// The calls of this file, by their Windows names (see startup.h).
#define GetModuleHandleW(...) startupCalls.GetModuleHandleW(__VA_ARGS__)
#define GetProcAddress(...) startupCalls.GetProcAddress(__VA_ARGS__)

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
