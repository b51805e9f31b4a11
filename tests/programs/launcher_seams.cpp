// The seams of the launcher's test build, installed in the call tables
// before WinMain runs; the launcher's own objects are the release stub's.
// Only this file reads the variables below: the release stub links no such
// file, and nothing outside its process can change its tables.
//
// SATCHEL_SEAM_TEMP_PATH: the temporary-path query answers this value, else
// the system's answer (seam_answer.h).
//
// SATCHEL_SEAM_WRITE_DELAY=MS: every file write of the payload library's
// table waits MS milliseconds first (a slow disk, for the progress window).
//
// SATCHEL_SEAM_WINDOW_STATION=hidden: the window station is not visible
// (seam_answer.h).
//
// SATCHEL_SEAM_FAIL=CALL or CALL:ERROR: every call of that name fails, as
// the system reports that failure, with ERROR as the thread's last error
// (ERROR_ACCESS_DENIED when none is given; the two COM calls return it as an
// HRESULT).  The calls that can fail so are those of `failingCalls` below:
// the launcher's own (launcherCalls) and the file write of the payload
// library's table (platformCalls).  Process32Next failing is the process
// list that cannot be read to its end: the walk breaks off after the first
// record.  DeleteFileW failing (ERROR_SHARING_VIOLATION, 32) is a file held
// open by a process outside the job.  A name that is not in the list shows a box of its own and ends
// the process with 99, so that a mistyped case cannot pass as a normal run.
#include <objbase.h>

#include <cwchar>
#include <cstdlib>

#include "launcher_calls.h"
#include "seam_answer.h"

namespace {

// The last error that the failing calls set.
DWORD seamError = ERROR_ACCESS_DENIED;

DWORD(WINAPI *systemGetTempPathW)(DWORD capacity, WCHAR *buffer);

DWORD WINAPI SeamGetTempPathW(DWORD capacity, WCHAR *buffer) {
  DWORD answer;
  if (AnswerFromVariable(L"SATCHEL_SEAM_TEMP_PATH", buffer, capacity, &answer)) {
    return answer;
  }
  return systemGetTempPathW(capacity, buffer);
}

// Each failing call sets the chosen error and answers as the system does when
// the call fails.
HRESULT WINAPI FailingCoInitialize(void *) {
  return HRESULT_FROM_WIN32(seamError);
}

HRESULT WINAPI FailingCoCreateGuid(GUID *) {
  return HRESULT_FROM_WIN32(seamError);
}

BOOL WINAPI FailingCreateDirectoryW(const WCHAR *, SECURITY_ATTRIBUTES *) {
  SetLastError(seamError);
  return FALSE;
}

BOOL WINAPI FailingWriteFile(HANDLE, const void *, DWORD, DWORD *written, OVERLAPPED *) {
  *written = 0;
  SetLastError(seamError);
  return FALSE;
}

HANDLE WINAPI FailingCreateJobObjectA(SECURITY_ATTRIBUTES *, const char *) {
  SetLastError(seamError);
  return NULL;
}

BOOL WINAPI FailingAssignProcessToJobObject(HANDLE, HANDLE) {
  SetLastError(seamError);
  return FALSE;
}

DWORD WINAPI FailingResumeThread(HANDLE) {
  SetLastError(seamError);
  return (DWORD)-1;
}

HANDLE WINAPI FailingCreateToolhelp32Snapshot(DWORD, DWORD) {
  SetLastError(seamError);
  return INVALID_HANDLE_VALUE;
}

BOOL WINAPI FailingProcess32First(HANDLE, PROCESSENTRY32 *) {
  SetLastError(seamError);
  return FALSE;
}

BOOL WINAPI FailingProcess32Next(HANDLE, PROCESSENTRY32 *) {
  SetLastError(seamError);
  return FALSE;
}

BOOL WINAPI FailingDeleteFileW(const WCHAR *) {
  SetLastError(seamError);
  return FALSE;
}

DWORD writeDelay;
BOOL(WINAPI *systemWriteFile)(HANDLE, const void *, DWORD, DWORD *, OVERLAPPED *);

BOOL WINAPI SlowWriteFile(HANDLE file, const void *buffer, DWORD size, DWORD *written,
                          OVERLAPPED *overlapped) {
  ::Sleep(writeDelay);
  return systemWriteFile(file, buffer, size, written, overlapped);
}

// Replaces the entry named `name` with its failing twin; 0 when no call of
// that name can be made to fail.
int InstallFailure(const WCHAR *name) {
#define SEAM_FAIL(table, call)                \
  if (std::wcscmp(name, L## #call) == 0) {    \
    table.call = Failing##call;               \
    return 1;                                 \
  }
  SEAM_FAIL(launcherCalls, CoInitialize)
  SEAM_FAIL(launcherCalls, CoCreateGuid)
  SEAM_FAIL(launcherCalls, CreateDirectoryW)
  SEAM_FAIL(platformCalls, WriteFile)
  SEAM_FAIL(launcherCalls, CreateJobObjectA)
  SEAM_FAIL(launcherCalls, AssignProcessToJobObject)
  SEAM_FAIL(launcherCalls, ResumeThread)
  SEAM_FAIL(launcherCalls, CreateToolhelp32Snapshot)
  SEAM_FAIL(launcherCalls, Process32First)
  SEAM_FAIL(launcherCalls, Process32Next)
  SEAM_FAIL(launcherCalls, DeleteFileW)
#undef SEAM_FAIL
  return 0;
}

// The tables are filled by the first constructors that run; this one runs
// after them and replaces entries.
__attribute__((constructor)) void InstallSeams(void) {
  systemGetTempPathW = launcherCalls.GetTempPathW;
  launcherCalls.GetTempPathW = SeamGetTempPathW;
  InstallWindowStationSeam();

  WCHAR delay[16];
  DWORD delayLength = GetEnvironmentVariableW(L"SATCHEL_SEAM_WRITE_DELAY", delay, 16);
  if (delayLength != 0 && delayLength < 16) {
    writeDelay = (DWORD)std::wcstoul(delay, nullptr, 10);
    systemWriteFile = platformCalls.WriteFile;
    platformCalls.WriteFile = SlowWriteFile;
  }

  static WCHAR fail[256];
  DWORD length = GetEnvironmentVariableW(L"SATCHEL_SEAM_FAIL", fail, 256);
  if (length == 0) {
    return;
  }
  WCHAR *colon = length < 256 ? std::wcschr(fail, L':') : nullptr;
  if (colon != nullptr) {
    *colon = 0;
    seamError = (DWORD)std::wcstoul(colon + 1, nullptr, 10);
  }
  if (length >= 256 || !InstallFailure(fail)) {
    // The system's own box: the launcher's table may be what the case broke.
    ::MessageBoxW(NULL, L"SATCHEL_SEAM_FAIL names no call that can fail", L"launcher seams",
                  MB_OK);
    ::ExitProcess(99);
  }
}

}  // namespace
