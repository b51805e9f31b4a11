// The seams of the bootstrap's test build, installed in the bootstrap's call
// table before WinMain runs; the bootstrap's own objects are the release
// bootstrap's.  Only this file reads the variables below.
//
// SATCHEL_SEAM_SYSTEM_DIRECTORY: the system-folder query answers this value,
// else the system's answer (seam_answer.h).
//
// SATCHEL_SEAM_WINDOW_STATION=hidden: the window station is not visible
// (seam_answer.h).
//
// SATCHEL_SEAM_FAIL=GetModuleFileNameW: the query of the program's own path
// fails (0, ERROR_ACCESS_DENIED), as the launcher's seams make its calls fail.
#include <cwchar>

#include "bootstrap_calls.h"
#include "seam_answer.h"

namespace {

UINT(WINAPI *systemGetSystemDirectoryW)(WCHAR *buffer, UINT capacity);

UINT WINAPI SeamGetSystemDirectoryW(WCHAR *buffer, UINT capacity) {
  DWORD answer;
  if (AnswerFromVariable(L"SATCHEL_SEAM_SYSTEM_DIRECTORY", buffer, capacity, &answer)) {
    return answer;
  }
  return systemGetSystemDirectoryW(buffer, capacity);
}

DWORD WINAPI FailingGetModuleFileNameW(HMODULE, WCHAR *, DWORD) {
  SetLastError(ERROR_ACCESS_DENIED);
  return 0;
}

// The tables are filled by the first constructors that run; this one runs
// after them and replaces entries.  A SATCHEL_SEAM_FAIL that names no call
// of this list ends the process with 99, so that a mistyped case cannot pass
// as a normal run.
__attribute__((constructor)) void InstallSeams(void) {
  systemGetSystemDirectoryW = bootstrapCalls.GetSystemDirectoryW;
  bootstrapCalls.GetSystemDirectoryW = SeamGetSystemDirectoryW;
  InstallWindowStationSeam();

  WCHAR fail[64];
  DWORD length = GetEnvironmentVariableW(L"SATCHEL_SEAM_FAIL", fail, 64);
  if (length == 0) {
    return;
  }
  if (length < 64 && std::wcscmp(fail, L"GetModuleFileNameW") == 0) {
    bootstrapCalls.GetModuleFileNameW = FailingGetModuleFileNameW;
    return;
  }
  ::ExitProcess(99);
}

}  // namespace
