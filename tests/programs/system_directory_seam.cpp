// The seam of the bootstrap's test build, installed in the bootstrap's call
// table before WinMain runs; the bootstrap's own objects are the release
// bootstrap's.
//
// The system-folder query: the value of SATCHEL_SEAM_SYSTEM_DIRECTORY when it
// is set, else the system's answer.  It keeps the system query's contract:
// the length without the NUL when the path fits, else the capacity it would
// need (NUL included).
#include <cwchar>

#include "bootstrap_calls.h"

namespace {

UINT(WINAPI *systemGetSystemDirectoryW)(WCHAR *buffer, UINT capacity);

UINT WINAPI SeamGetSystemDirectoryW(WCHAR *buffer, UINT capacity) {
  static WCHAR value[32768];
  DWORD length = GetEnvironmentVariableW(L"SATCHEL_SEAM_SYSTEM_DIRECTORY", value, 32768);
  if (length == 0 || length >= 32768) {
    return systemGetSystemDirectoryW(buffer, capacity);
  }
  if (length + 1 > capacity) {
    return length + 1;
  }
  std::wmemcpy(buffer, value, length + 1);
  return length;
}

// The tables are filled by the first constructors that run; this one runs
// after them and replaces the entry.
__attribute__((constructor)) void InstallSeam(void) {
  systemGetSystemDirectoryW = bootstrapCalls.GetSystemDirectoryW;
  bootstrapCalls.GetSystemDirectoryW = SeamGetSystemDirectoryW;
}

}  // namespace
