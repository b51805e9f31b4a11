// The table of satchel-java's Windows calls: the system's own, copied from the
// import address table at start-up (see platform.h).
#define PLATFORM_DEFINES_TABLE
#include "front_end_calls.h"

// On x86-64 va_list (FormatMessageW's last argument) is a pointer type with
// an attribute, which the type check compares without, and says so.
#pragma GCC diagnostic ignored "-Wignored-attributes"

#define FRONT_END_CALLS(X)                          \
  X(FrontEndCalls, GetCommandLineW, 0)              \
  X(FrontEndCalls, CommandLineToArgvW, 8)           \
  X(FrontEndCalls, LocalFree, 4)                    \
  X(FrontEndCalls, WideCharToMultiByte, 32)         \
  X(FrontEndCalls, GetModuleHandleW, 4)             \
  X(FrontEndCalls, GetFileAttributesW, 4)           \
  X(FrontEndCalls, SetDllDirectoryW, 4)             \
  X(FrontEndCalls, RegOpenKeyExW, 20)               \
  X(FrontEndCalls, RegEnumKeyExW, 32)               \
  X(FrontEndCalls, FormatMessageW, 28)              \
  X(FrontEndCalls, MessageBoxA, 16)                 \
  X(FrontEndCalls, MessageBoxW, 16)                 \
  X(FrontEndCalls, GetStdHandle, 4)                 \
  X(FrontEndCalls, GetFileType, 4)                  \
  X(FrontEndCalls, GetConsoleMode, 8)               \
  X(FrontEndCalls, GetConsoleProcessList, 8)        \
  X(FrontEndCalls, WriteConsoleW, 20)               \
  X(FrontEndCalls, CreateThread, 24)                \
  X(FrontEndCalls, WaitForSingleObject, 8)          \
  X(FrontEndCalls, GetExitCodeThread, 8)

PLATFORM_DEFINE_TABLE(FrontEndCalls, frontEndCalls, FRONT_END_CALLS)
