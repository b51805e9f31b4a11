// The seams of the launcher's test build.
//
// The temporary-path query: the value of
// SATCHEL_SEAM_TEMP_PATH when it is set, verbatim (with or without a trailing
// separator, of any length), else the system's answer.  It keeps the system
// query's contract: the length without the NUL when the path fits, else the
// capacity it would need (NUL included).
#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>

extern "C" DWORD SeamGetTempPathW(DWORD capacity, WCHAR *buffer) {
  static WCHAR value[32768];
  DWORD length = GetEnvironmentVariableW(L"SATCHEL_SEAM_TEMP_PATH", value, 32768);
  if (length == 0 || length >= 32768) {
    return GetTempPathW(capacity, buffer);
  }
  if (length + 1 > capacity) {
    return length + 1;
  }
  std::wmemcpy(buffer, value, length + 1);
  return length;
}

// The process walk of the launcher's test build: with SATCHEL_SEAM_BREAK_WALK
// set, every step after the first record fails with ERROR_ACCESS_DENIED, as
// a list that cannot be read to its end; else the system's walk.
extern "C" BOOL SeamProcess32Next(HANDLE snapshot, PROCESSENTRY32 *process) {
  if (GetEnvironmentVariableW(L"SATCHEL_SEAM_BREAK_WALK", nullptr, 0) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return Process32Next(snapshot, process);
}
