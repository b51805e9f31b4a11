// The table of Java hosting's runtime calls on Windows: the system's own,
// copied from the import address table at start-up (see platform.h).  A file
// of its own in the library, so that only a program that refers to the table
// (through java_vm.cpp) imports these calls.
#define PLATFORM_DEFINES_TABLE
#include "platform.h"

#define RUNTIME_CALLS(X)                    \
  X(RuntimeCalls, LoadLibraryW, 4)          \
  X(RuntimeCalls, RegOpenKeyExA, 20)        \
  X(RuntimeCalls, RegQueryValueExA, 24)     \
  X(RuntimeCalls, RegQueryValueExW, 24)     \
  X(RuntimeCalls, RegCloseKey, 4)

PLATFORM_DEFINE_TABLE(RuntimeCalls, runtimeCalls, RUNTIME_CALLS)
