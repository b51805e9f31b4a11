// The table of the payload library's calls on Windows: the system's own,
// copied from the import address table at start-up (see platform.h).
#define PLATFORM_DEFINES_TABLE
#include "platform.h"

#define PAYLOAD_CALLS(X)                                                                  \
  X(PlatformCalls, GetModuleFileNameW, 12)                                                \
  X(PlatformCalls, CreateFileW, 28)                                                       \
  X(PlatformCalls, ReadFile, 20)                                                          \
  X(PlatformCalls, WriteFile, 20)                                                         \
  X(PlatformCalls, SetFilePointer, 16)                                                    \
  X(PlatformCalls, CloseHandle, 4)                                                        \
  X(PlatformCalls, GetLastError, 0)                                                       \
  X(PlatformCalls, MultiByteToWideChar, 24)                                               \
  X(PlatformCalls, GetProcAddress, 8)

PLATFORM_DEFINE_TABLE(PlatformCalls, platformCalls, PAYLOAD_CALLS)
