// The launcher's table on Windows: the system's own calls, copied from the
// import address table at start-up (see platform.h).
#define PLATFORM_DEFINES_TABLE
#include <objbase.h>
#include <sddl.h>

#include "launcher_calls.h"

#define LAUNCHER_CALLS(X)                              \
  X(LauncherCalls, MessageBoxA, 16)                    \
  X(LauncherCalls, GetCommandLineW, 0)                 \
  X(LauncherCalls, GetCurrentDirectoryW, 8)            \
  X(LauncherCalls, SetEnvironmentVariableW, 8)         \
  X(LauncherCalls, GetTempPathW, 8)                    \
  X(LauncherCalls, CoInitialize, 4)                    \
  X(LauncherCalls, CoCreateGuid, 4)                    \
  X(LauncherCalls, StringFromGUID2, 12)                \
  X(LauncherCalls, CreateDirectoryW, 8)                \
  X(LauncherCalls, GetCurrentProcess, 0)               \
  X(LauncherCalls, OpenProcessToken, 12)               \
  X(LauncherCalls, GetTokenInformation, 20)            \
  X(LauncherCalls, ConvertStringSecurityDescriptorToSecurityDescriptorA, 16) \
  X(LauncherCalls, CreateJobObjectA, 8)                \
  X(LauncherCalls, CreateProcessW, 40)                 \
  X(LauncherCalls, AssignProcessToJobObject, 8)        \
  X(LauncherCalls, ResumeThread, 4)                    \
  X(LauncherCalls, TerminateProcess, 8)                \
  X(LauncherCalls, GetExitCodeProcess, 8)              \
  X(LauncherCalls, CreateToolhelp32Snapshot, 8)        \
  X(LauncherCalls, Process32First, 8)                  \
  X(LauncherCalls, Process32Next, 8)                   \
  X(LauncherCalls, OpenProcess, 12)                    \
  X(LauncherCalls, IsProcessInJob, 12)                 \
  X(LauncherCalls, WaitForSingleObject, 8)             \
  X(LauncherCalls, GetTickCount, 0)                    \
  X(LauncherCalls, GetSystemMetrics, 4)                \
  X(LauncherCalls, CreateWindowExW, 48)                \
  X(LauncherCalls, MoveWindow, 24)                     \
  X(LauncherCalls, MulDiv, 12)                         \
  X(LauncherCalls, PeekMessageW, 20)                   \
  X(LauncherCalls, DispatchMessageW, 4)                \
  X(LauncherCalls, DestroyWindow, 4)                   \
  X(LauncherCalls, FindFirstFileW, 8)                  \
  X(LauncherCalls, FindNextFileW, 8)                   \
  X(LauncherCalls, FindClose, 4)                       \
  X(LauncherCalls, SetFileAttributesW, 8)              \
  X(LauncherCalls, DeleteFileW, 4)                     \
  X(LauncherCalls, RemoveDirectoryW, 4)                \
  X(LauncherCalls, MoveFileExW, 12)                    \
  X(LauncherCalls, Sleep, 4)

PLATFORM_DEFINE_TABLE(LauncherCalls, launcherCalls, LAUNCHER_CALLS)
