// The table of the shared start-up code on Windows: the system's own calls,
// copied from the import address table at start-up (see platform.h).
#define PLATFORM_DEFINES_TABLE
#include "startup.h"

#include "platform.h"

#define STARTUP_CALLS(X)                          \
  X(StartupCalls, GetModuleHandleW, 4)            \
  X(StartupCalls, GetProcAddress, 8)              \
  X(StartupCalls, GetProcessWindowStation, 0)     \
  X(StartupCalls, GetUserObjectInformationW, 20)  \
  X(StartupCalls, GetStdHandle, 4)                \
  X(StartupCalls, WriteFile, 20)

PLATFORM_DEFINE_TABLE(StartupCalls, startupCalls, STARTUP_CALLS)
