// The system-folder query of the bootstrap's test build: the value of
// SATCHEL_SEAM_SYSTEM_DIRECTORY when it is set, else the system's answer.  It
// keeps the system query's contract: the length without the NUL when the
// path fits, else the capacity it would need (NUL included).
#include <windows.h>

#include <cwchar>

extern "C" UINT SeamGetSystemDirectoryW(WCHAR *buffer, UINT capacity) {
  static WCHAR value[32768];
  DWORD length = GetEnvironmentVariableW(L"SATCHEL_SEAM_SYSTEM_DIRECTORY", value, 32768);
  if (length == 0 || length >= 32768) {
    return GetSystemDirectoryW(buffer, capacity);
  }
  if (length + 1 > capacity) {
    return length + 1;
  }
  std::wmemcpy(buffer, value, length + 1);
  return length;
}
