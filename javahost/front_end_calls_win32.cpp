// The table of satchel-java's Windows calls: the system's own, copied from the
// import address table at start-up (see platform.h).
#define PLATFORM_DEFINES_TABLE
#include "front_end_calls.h"

#define FRONT_END_CALLS(X)                          \
  X(FrontEndCalls, GetCommandLineW, 0)              \
  X(FrontEndCalls, CommandLineToArgvW, 8)           \
  X(FrontEndCalls, LocalFree, 4)                    \
  X(FrontEndCalls, WideCharToMultiByte, 32)         \
  X(FrontEndCalls, GetFileAttributesW, 4)           \
  X(FrontEndCalls, SetDllDirectoryW, 4)             \
  X(FrontEndCalls, MessageBoxA, 16)                 \
  X(FrontEndCalls, CreateThread, 24)                \
  X(FrontEndCalls, WaitForSingleObject, 8)          \
  X(FrontEndCalls, GetExitCodeThread, 8)

PLATFORM_DEFINE_TABLE(FrontEndCalls, frontEndCalls, FRONT_END_CALLS)
