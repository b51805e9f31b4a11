// The seams of the launcher's test build, installed in the launcher's call
// table before WinMain runs; the launcher's own objects are the release
// stub's.
//
// The temporary-path query: the value of SATCHEL_SEAM_TEMP_PATH when it is
// set, verbatim (with or without a trailing separator, of any length), else
// the system's answer.  It keeps the system query's contract: the length
// without the NUL when the path fits, else the capacity it would need (NUL
// included).
//
// The process walk: with SATCHEL_SEAM_BREAK_WALK set, every step after the
// first record fails with ERROR_ACCESS_DENIED, as a list that cannot be read
// to its end; else the system's walk.
#include <cwchar>

#include "launcher_calls.h"

namespace {

DWORD(WINAPI *systemGetTempPathW)(DWORD capacity, WCHAR *buffer);
BOOL(WINAPI *systemProcess32Next)(HANDLE snapshot, PROCESSENTRY32 *process);

DWORD WINAPI SeamGetTempPathW(DWORD capacity, WCHAR *buffer) {
  static WCHAR value[32768];
  DWORD length = GetEnvironmentVariableW(L"SATCHEL_SEAM_TEMP_PATH", value, 32768);
  if (length == 0 || length >= 32768) {
    return systemGetTempPathW(capacity, buffer);
  }
  if (length + 1 > capacity) {
    return length + 1;
  }
  std::wmemcpy(buffer, value, length + 1);
  return length;
}

BOOL WINAPI SeamProcess32Next(HANDLE snapshot, PROCESSENTRY32 *process) {
  if (GetEnvironmentVariableW(L"SATCHEL_SEAM_BREAK_WALK", nullptr, 0) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return systemProcess32Next(snapshot, process);
}

// The tables are filled by the first constructors that run; this one runs
// after them and replaces the two entries.
__attribute__((constructor)) void InstallSeams(void) {
  systemGetTempPathW = launcherCalls.GetTempPathW;
  launcherCalls.GetTempPathW = SeamGetTempPathW;
  systemProcess32Next = launcherCalls.Process32Next;
  launcherCalls.Process32Next = SeamProcess32Next;
}

}  // namespace
