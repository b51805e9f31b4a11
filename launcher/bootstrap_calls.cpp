// The bootstrap's table on Windows: the system's own calls, copied from the
// import address table at start-up (see platform.h).
#define PLATFORM_DEFINES_TABLE
#include "bootstrap_calls.h"

#include "platform.h"

#define BOOTSTRAP_CALLS(X)                       \
  X(BootstrapCalls, MessageBoxA, 16)             \
  X(BootstrapCalls, ExitProcess, 4)              \
  X(BootstrapCalls, GetModuleFileNameW, 12)      \
  X(BootstrapCalls, FindFirstFileW, 8)           \
  X(BootstrapCalls, FindNextFileW, 8)            \
  X(BootstrapCalls, FindClose, 4)                \
  X(BootstrapCalls, GetSystemDirectoryW, 8)      \
  X(BootstrapCalls, GetFileAttributesW, 4)       \
  X(BootstrapCalls, GetCommandLineW, 0)          \
  X(BootstrapCalls, GetEnvironmentVariableW, 12) \
  X(BootstrapCalls, CreateProcessW, 40)          \
  X(BootstrapCalls, WaitForSingleObject, 8)      \
  X(BootstrapCalls, GetExitCodeProcess, 8)       \
  X(BootstrapCalls, CloseHandle, 4)

PLATFORM_DEFINE_TABLE(BootstrapCalls, bootstrapCalls, BOOTSTRAP_CALLS)
