// What the launcher's and the bootstrap's test builds share: a path query
// answered from an environment variable, verbatim (with or without a
// trailing separator, of any length), keeping the system query's contract:
// the length without the NUL when the path fits, else the capacity it would
// need (NUL included); and a window station that nobody sees.
#ifndef SATCHEL_SEAM_ANSWER_H
#define SATCHEL_SEAM_ANSWER_H

#include <windows.h>

#include <cwchar>

#include "startup.h"

// 1 with *answer set when `variable` is set; 0 when it is not (the system's
// own query answers then).
inline int AnswerFromVariable(const WCHAR *variable, WCHAR *buffer, DWORD capacity,
                              DWORD *answer) {
  static WCHAR value[32768];
  DWORD length = GetEnvironmentVariableW(variable, value, 32768);
  if (length == 0 || length >= 32768) {
    return 0;
  }
  if (length + 1 > capacity) {
    *answer = length + 1;
  } else {
    std::wmemcpy(buffer, value, length + 1);
    *answer = length;
  }
  return 1;
}

// SATCHEL_SEAM_WINDOW_STATION=hidden: the window station's flags read
// without WSF_VISIBLE, as in session 0 or for a service, through the table
// of the start-up code that both test builds share.
inline BOOL WINAPI HiddenWindowStationFlags(HANDLE, int index, void *information, DWORD size,
                                            DWORD *needed) {
  if (index != UOI_FLAGS || size < sizeof(USEROBJECTFLAGS)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  USEROBJECTFLAGS flags = {FALSE, FALSE, 0};
  *static_cast<USEROBJECTFLAGS *>(information) = flags;
  *needed = sizeof flags;
  return TRUE;
}

inline void InstallWindowStationSeam(void) {
  WCHAR value[16];
  DWORD length = GetEnvironmentVariableW(L"SATCHEL_SEAM_WINDOW_STATION", value, 16);
  if (length != 0 && length < 16 && std::wcscmp(value, L"hidden") == 0) {
    startupCalls.GetUserObjectInformationW = HiddenWindowStationFlags;
  }
}

#endif
